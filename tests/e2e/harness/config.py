"""What the run wrapper (run_e2e.sh) hands to a test, and the fixed texts."""

import os

# The built program and the source tree, from the wrapper or the caller.
UPDATER = os.environ.get("TAVRIX_UPDATER", "")
SOURCE_DIR = os.environ.get(
    "TAVRIX_SOURCE_DIR",
    os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", "..")))
SCREEN = os.environ.get("E2E_SCREEN", "1366x768x24")

# Texts as the accessibility tree and the X server show them (UTF-8).
WINDOW_TITLE = "Tavrix软件更新程序"
NOTICE_TITLE = "Tavrix提示"
NO_UPDATE_TEXT = "暂未发现新版，请耐心等待！"
DOWNLOAD_FILE = "Tavrix更新.tmp"
HANDOFF_SECTION = "配置"
UPDATE_LOG_PATH = "/zrq_api/io.php?a=uplog&apiver=905&c=0&gdata=0&softcode=1000003"

# A hand-off file that offers version 2.73.
OFFER = {
    "文件名": "Tavrix.exe",
    "更新": "1",
    "版本": "2.73",
    "下载地": "http://127.0.0.1:9/Tavrix.exe",
}

# How long a start-up may take on a busy two-core machine: WebKit's first
# start and the accessibility bus are slow the first time.
START_TIMEOUT = 60
EXIT_TIMEOUT = 20
