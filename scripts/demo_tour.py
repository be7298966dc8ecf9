#!/usr/bin/python3
"""The demo's run directory, server and, headless, its click-through.

Run by scripts/demo. Lays out a run directory with the updater, the old
product running from it and a hand-off file offering 2.73; serves the new
product at a rate that makes the download last a few seconds, and the
update-log page; starts the updater. With --headless it presses the buttons
itself through the accessibility tree and saves a screenshot of each stage.
"""

import http.server
import os
import shutil
import socketserver
import subprocess
import sys
import threading
import time

top = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(top, "tests", "e2e"))

DOWNLOAD_SECONDS = 6
UPDATE_LOG = """<!doctype html>
<html><head><meta charset="utf-8"><title>更新日志</title>
<style>body{font:13px sans-serif;margin:8px;color:#333}h3{margin:4px 0;color:#2a6}</style>
</head><body>
<h3>Tavrix 2.73 更新日志</h3>
<ul>
<li>新增：文件拖放上传</li>
<li>改进：启动速度提高约三成</li>
<li>修复：长文件名在列表中显示不全</li>
<li>修复：断网后重连偶尔失败</li>
</ul>
<p><a href="https://example.invalid/">查看全部更新记录</a></p>
</body></html>
"""


class DemoServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def make_handler(product_bytes):
    rate = max(1, len(product_bytes) // DOWNLOAD_SECONDS)

    class Handler(http.server.BaseHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def do_GET(self):
            if self.path.startswith("/zrq_api/io.php"):
                body = UPDATE_LOG.encode("utf-8")
                self.send_response(200)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)
            elif self.path == "/Tavrix-2.73.exe":
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", str(len(product_bytes)))
                self.end_headers()
                chunk = max(1, rate // 20)
                for offset in range(0, len(product_bytes), chunk):
                    self.wfile.write(product_bytes[offset:offset + chunk])
                    time.sleep(chunk / rate)
            else:
                self.send_error(404)

    return Handler


def write_handoff(run, port):
    values = [("文件名", "Tavrix.exe"), ("更新", "1"), ("版本", "2.73"),
              ("下载地", f"http://127.0.0.1:{port}/Tavrix-2.73.exe")]
    text = "[配置]\r\n" + "".join(f"{k}={v}\r\n" for k, v in values)
    os.makedirs(os.path.join(run, "pz"), exist_ok=True)
    with open(os.path.join(run, "pz", "gx.ini"), "wb") as f:
        f.write(text.encode("gbk"))


def tour(updater, shots):
    """Clicks through the road and saves a screenshot of each stage."""
    from harness import a11y, screen, wait_until

    def shot(name, what):
        path = os.path.join(shots, name)
        screen.screenshot(save_as=path)
        print(f"  {what:<32} {path}", flush=True)

    window = a11y.find_window(updater.pid)
    time.sleep(1.5)  # let the web view paint its page; a picture, not a check
    shot("1-offer.png", "offer: 2.72 -> 2.73")

    window.press("开始更新")
    wait_until(lambda: window.label("下载进度").name not in ("下载进度：", "下载进度:0%"),
               30, "the download to show progress")
    wait_until(lambda: float(window.label("下载进度").name.split(":")[1].rstrip("%") or 0) >= 30,
               30, "a third of the download")
    shot("2-downloading.png", "downloading")

    wait_until(lambda: "启动Tavrix" in window.buttons(), 60, "the download to finish")
    shot("3-done.png", "download complete, installed")

    window.press("启动Tavrix")
    if updater.wait(timeout=10) != 0:
        raise SystemExit("the updater did not end with exit code 0")
    screen.window_id(title="Tavrix V2.73", timeout=30)
    time.sleep(0.5)  # the new product's first paint; a picture, not a check
    shot("4-new-product.png", "the new product running")


def main():
    headless = "--headless" in sys.argv
    build = os.environ.get("TAVRIX_BUILD_DIR", os.path.join(top, "build"))
    stamp = time.strftime("%Y%m%d-%H%M%S")
    base = os.path.join(os.environ.get("TMPDIR", "/tmp"), f"tavrix-demo-{stamp}")
    run = os.path.join(base, "run")
    shots = os.path.join(base, "screenshots")
    os.makedirs(run)
    os.makedirs(shots)

    shutil.copy2(os.path.join(build, "tavrix-updater"), run)
    shutil.copy2(os.path.join(build, "tavrix-product-2.72"), os.path.join(run, "Tavrix.exe"))
    with open(os.path.join(build, "tavrix-product-2.73"), "rb") as f:
        new_product = f.read()

    server = DemoServer(("127.0.0.1", 0), make_handler(new_product))
    port = server.server_address[1]
    threading.Thread(target=server.serve_forever, daemon=True).start()
    write_handoff(run, port)

    print(f"demo run directory: {run}", flush=True)
    print(f"local server: http://127.0.0.1:{port}/ (new product served over ~{DOWNLOAD_SECONDS} s)",
          flush=True)
    old_product = subprocess.Popen(["./Tavrix.exe"], cwd=run)
    env = dict(os.environ, TAVRIX_UPDATE_LOG_HOST=f"127.0.0.1:{port}")
    updater = subprocess.Popen([os.path.join(run, "tavrix-updater")], cwd=run, env=env)
    try:
        if headless:
            print(f"screenshots: {shots}", flush=True)
            tour(updater, shots)
            print("demo done", flush=True)
        else:
            print("click 开始更新, then 启动Tavrix; the demo ends with the updater", flush=True)
            updater.wait()
    finally:
        for process in (updater, old_product):
            if process.poll() is None:
                process.kill()
        server.shutdown()
    return 0


if __name__ == "__main__":
    sys.exit(main())
