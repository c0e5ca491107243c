// FormatMessageW over a small table of Windows' system messages, in the words of Chinese
// (Simplified) Windows: the installers' exit codes that the program explains, and a few
// common errors.
#include <winshim/windows.h>

#include <boost/locale/encoding_utf.hpp>

#include <cstring>
#include <string>

namespace {

struct SystemMessage {
    DWORD code;
    const char* text; // UTF-8, without the line end
};

const SystemMessage kMessages[] = {
    {ERROR_FILE_NOT_FOUND, "系统找不到指定的文件。"},
    {ERROR_ACCESS_DENIED, "拒绝访问。"},
    {ERROR_CANCELLED, "操作已被用户取消。"},
    {ERROR_INSTALL_USEREXIT, "用户取消了安装。"},
    {ERROR_INSTALL_FAILURE, "安装时发生严重错误"},
    {ERROR_INSTALL_ALREADY_RUNNING,
     "正在进行另一个安装操作。请在继续这个安装操作之前完成那个操作。"},
    {1619, "未能打开这个安装程序包。请验证程序包是否存在，是否可以访问；或者与应用程序供应商联系，"
           "验证这是否是有效的 Windows 安装服务程序包。"},
    {1625, "系统策略禁止这个安装。请与系统管理员联系。"},
    {1633, "这个处理器类型不支持该安装程序包。请与产品供应商联系。"},
    {1638, "已安装这个产品的另一个版本。这个版本的安装无法继续。要配置或删除这个产品的现有版本，"
           "请用“控制面板”上的“添加/删除程序”。"},
    {ERROR_SUCCESS_REBOOT_INITIATED, "要求的操作已成功结束。要使改动生效，必须重新启动系统。"},
    {ERROR_SUCCESS_REBOOT_REQUIRED, "请求的操作成功。直到重新启动系统前更改将不会生效。"},
};

constexpr DWORD kChineseSimplified = 0x0804;

bool KnownLanguage(DWORD language) {
    return language == 0 || language == MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT) ||
           language == kChineseSimplified;
}

} // namespace

DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPWSTR lpBuffer, DWORD nSize, va_list*) {
    (void)lpSource;
    const DWORD source = dwFlags & (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_FROM_STRING |
                                    FORMAT_MESSAGE_FROM_HMODULE);
    if (source != FORMAT_MESSAGE_FROM_SYSTEM || (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) ||
        !(dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) || !lpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!KnownLanguage(dwLanguageId)) {
        SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
        return 0;
    }
    for (const SystemMessage& m : kMessages) {
        if (m.code != dwMessageId)
            continue;
        const std::wstring text =
            boost::locale::conv::utf_to_utf<wchar_t>(std::string(m.text) + "\r\n");
        if (text.size() + 1 > nSize) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        std::memcpy(lpBuffer, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(text.size());
    }
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
}
