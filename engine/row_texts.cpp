#include "engine/row_texts.h"

#include "engine/job_contract.h"
#include "engine/report/report_shape.h"

#include <string>

std::string RowResultText(int row, int code) {
    const bool good = code >= 0;
    switch (row) {
    case kNetworkRow:
        return good ? "连接服务器成功" : "请检查网络连接是否正常";
    case kDotNetRow:
        return good ? ".net framework 4.0已安装" : ".net framework 4.0未安装";
    case kIERow:
        return good ? "IE浏览器配置检测正常" : "IE浏览器配置检测异常";
    case kToolRow:
        if (code == kWrongVersion)
            return "投标工具安装版本不正确";
        return good ? "投标工具安装正常" : "投标工具未安装";
    case kCaRow:
        if (code == kWrongVersion)
            return "CA驱动版本不正确";
        if (code == kCaEnvironmentFault)
            return "CA驱动环境异常";
        return good ? "CA驱动版本安装正常" : "CA驱动未安装";
    default:
        return std::string();
    }
}

std::string RowName(int row) {
    switch (row) {
    case kNetworkRow:
        return "网络连接检测";
    case kDotNetRow:
        return ".net framework 4.0检测";
    case kIERow:
        return "IE浏览器配置检测";
    case kToolRow:
        return "投标工具版本检测";
    case kCaRow:
        return "CA版本检测";
    default:
        return std::string();
    }
}

std::string InstallOutcomeText(int row, int code) {
    if (code >= 0)
        return "已安装，等待重新检测";
    if (row == kCaRow && code != kInstallFault)
        return "安装失败：" + std::to_string(-code) +
               " 个驱动安装程序未完成（下载、校验、保存或运行失败）";
    switch (code) {
    case kInstallNotSaved:
        return "安装失败：安装程序无法保存到本机";
    case kInstallNotFetched:
        return "安装失败：下载失败（服务器无应答、状态码不是 200，或 sha256 不符）";
    case kInstallFault:
        return "安装失败：服务器文档缺少安装程序的地址，或下载目录无法创建";
    case kInstallNotStarted:
        return "安装失败：安装程序未能以管理员身份运行";
    default:
        return "安装失败（结果 " + std::to_string(code) + "）";
    }
}
