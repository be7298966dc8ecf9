// Every fixed text the program shows, builds paths from or sends, as code
// page 936 bytes. They are defined in literals.cc, the one translation unit
// compiled with -fexec-charset=GBK, so this header can be included anywhere.
#pragma once

#include <string_view>

namespace updater::literals {

// The window and its initial captions.
extern const std::string_view kWindowTitle;          // "Tavrix软件更新程序"
extern const std::string_view kProductName;          // "Tavrix更新程序"
extern const std::string_view kInitialProgress;      // "下载进度：" (full-width colon)
extern const std::string_view kInitialLocalVersion;  // "本地版本号:V2.72"
extern const std::string_view kInitialLatestVersion; // "最新版本号:V2.73"
extern const std::string_view kInitialDownloading;   // "正在下载"
extern const std::string_view kInitialFileSize;      // "文件大小:0KB"
extern const std::string_view kInitialReceived;      // "已下载:0KB"
extern const std::string_view kInitialElapsed;       // "所用时间:0秒"
extern const std::string_view kInitialSpeed;         // "下载速度:0KB/S"
extern const std::string_view kInitialRemaining;     // "剩余时间:"
extern const std::string_view kCloseButtonCaption;   // "×"

// The states of the update button.
extern const std::string_view kStartUpdate;  // "开始更新"
extern const std::string_view kUpdating;     // "正在更新"
extern const std::string_view kLaunch;       // "启动Tavrix"
extern const std::string_view kDownloadDone; // "下载完成！"

// Paths, appended to the run directory or the target directory.
extern const std::string_view kDownloadFileSuffix; // "\Tavrix更新.tmp"
extern const std::string_view kHandoffFileSuffix;  // "/pz/gx.ini"
extern const std::string_view kProductExeSuffix;   // "\Tavrix.exe"
extern const std::string_view kSeparator;          // "\"

// The hand-off file.
extern const std::string_view kHandoffSection;    // "配置"
extern const std::string_view kKeyFileName;       // "文件名"
extern const std::string_view kKeyUpdateFlag;     // "更新"
extern const std::string_view kKeyVersion;        // "版本"
extern const std::string_view kKeyDownloadUrl;    // "下载地"
extern const std::string_view kNoUpdateText;      // "暂未发现新版，请耐心等待！"
extern const std::string_view kNoUpdateTitle;     // "Tavrix提示"
extern const std::string_view kLatestVersionLabel; // "最新版本号:"
extern const std::string_view kLocalVersionLabel;  // "本地版本号:"

// The download routine.
extern const std::string_view kMessageTitle;        // "信息："
extern const std::string_view kErrorConnection;     // "Internet连接错误!"
extern const std::string_view kErrorOpenUrl;        // "不能打开该URL!"
extern const std::string_view kErrorOpenLocalFile;  // "不能打开本地的文件!"
extern const std::string_view kErrorReadFile;       // "读文件出错!"
extern const std::string_view kErrorWriteFile;      // "写文件出错!"
extern const std::string_view kErrorInstall;        // "安装新版本出错!"
extern const std::string_view kAgentPrefix;         // "Agent"
extern const std::string_view kRequestHeaders;      // the four header lines, 156 bytes

// The progress display.
extern const std::string_view kBannerPrefix;    // "正在下载:Tavrix V"
extern const std::string_view kFileSizeLabel;   // "文件大小:"
extern const std::string_view kKb;              // "KB"
extern const std::string_view kReceivedLabel;   // "已下载:"
extern const std::string_view kKbLineEnd;       // "KB\r\n"
extern const std::string_view kElapsedLabel;    // "所用时间:"
extern const std::string_view kSecondsLineEnd;  // "秒\r\n"
extern const std::string_view kSpeedLabel;      // "下载速度:"
extern const std::string_view kKbPerSecondLineEnd; // "KB/s\r\n"
extern const std::string_view kRemainingLabel;  // "剩余时间:"
extern const std::string_view kHours;           // "时"
extern const std::string_view kMinutes;         // "分"
extern const std::string_view kSeconds;         // "秒"
extern const std::string_view kProgressLabel;   // "下载进度:"
extern const std::string_view kPercent;         // "%"

}  // namespace updater::literals
