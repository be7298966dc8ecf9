// Compiled with -finput-charset=UTF-8 -fexec-charset=GBK: the literals below
// are stored as code page 936 bytes. Keep every fixed text of the program here.
#include "text/literals.h"

namespace updater::literals {

const std::string_view kWindowTitle = "Tavrix软件更新程序";
const std::string_view kProductName = "Tavrix更新程序";
const std::string_view kInitialProgress = "下载进度：";
const std::string_view kInitialLocalVersion = "本地版本号:V2.72";
const std::string_view kInitialLatestVersion = "最新版本号:V2.73";
const std::string_view kInitialDownloading = "正在下载";
const std::string_view kInitialFileSize = "文件大小:0KB";
const std::string_view kInitialReceived = "已下载:0KB";
const std::string_view kInitialElapsed = "所用时间:0秒";
const std::string_view kInitialSpeed = "下载速度:0KB/S";
const std::string_view kInitialRemaining = "剩余时间:";
const std::string_view kCloseButtonCaption = "×";
const std::string_view kStartUpdate = "开始更新";
const std::string_view kUpdating = "正在更新";
const std::string_view kLaunch = "启动Tavrix";
const std::string_view kDownloadDone = "下载完成！";
const std::string_view kDownloadFileSuffix = "\\Tavrix更新.tmp";
const std::string_view kHandoffFileSuffix = "/pz/gx.ini";
const std::string_view kProductExeSuffix = "\\Tavrix.exe";
const std::string_view kSeparator = "\\";
const std::string_view kHandoffSection = "配置";
const std::string_view kKeyFileName = "文件名";
const std::string_view kKeyUpdateFlag = "更新";
const std::string_view kKeyVersion = "版本";
const std::string_view kKeyDownloadUrl = "下载地";
const std::string_view kNoUpdateText = "暂未发现新版，请耐心等待！";
const std::string_view kNoUpdateTitle = "Tavrix提示";
const std::string_view kLatestVersionLabel = "最新版本号:";
const std::string_view kLocalVersionLabel = "本地版本号:";
const std::string_view kMessageTitle = "信息：";
const std::string_view kErrorConnection = "Internet连接错误!";
const std::string_view kErrorOpenUrl = "不能打开该URL!";
const std::string_view kErrorOpenLocalFile = "不能打开本地的文件!";
const std::string_view kErrorReadFile = "读文件出错!";
const std::string_view kErrorWriteFile = "写文件出错!";
const std::string_view kErrorInstall = "安装新版本出错!";
const std::string_view kAgentPrefix = "Agent";
const std::string_view kRequestHeaders =
    "Accept: */*\r\n"
    "Accept-Language: zh-cn\r\n"
    "Accept-Encoding: gzip, deflate\r\n"
    "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)";
const std::string_view kBannerPrefix = "正在下载:Tavrix V";
const std::string_view kFileSizeLabel = "文件大小:";
const std::string_view kKb = "KB";
const std::string_view kReceivedLabel = "已下载:";
const std::string_view kKbLineEnd = "KB\r\n";
const std::string_view kElapsedLabel = "所用时间:";
const std::string_view kSecondsLineEnd = "秒\r\n";
const std::string_view kSpeedLabel = "下载速度:";
const std::string_view kKbPerSecondLineEnd = "KB/s\r\n";
const std::string_view kRemainingLabel = "剩余时间:";
const std::string_view kHours = "时";
const std::string_view kMinutes = "分";
const std::string_view kSeconds = "秒";
const std::string_view kProgressLabel = "下载进度:";
const std::string_view kPercent = "%";

}  // namespace updater::literals
