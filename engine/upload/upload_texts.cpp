#include "engine/upload/upload_texts.h"

std::string UploadSuccessText(const std::string& code) {
    return "检测报告已上传，报告编号：" + ReportCodeForReading(code) +
           "（请把编号告诉技术支持人员）";
}

std::string UploadFailureText(int result, const UploadAnswer& answer) {
    switch (result) {
    case kUploadNoAnswer:
        if (!answer.words.empty())
            return "检测报告上传失败：" + answer.words + "。";
        return "检测报告上传失败：技术支持服务器没有应答，请检查网络后重试。";
    case kUploadHttpStatus:
        if (answer.status == 413)
            return "检测报告上传失败：检测报告太大，服务器拒绝接收（HTTP 413）。";
        if (answer.status == 429)
            return "检测报告上传失败：上传过于频繁，请稍后再试（HTTP 429）。";
        return "检测报告上传失败：技术支持服务器返回错误（HTTP " + std::to_string(answer.status) +
               "）。";
    case kUploadBadAnswer:
        return "检测报告上传失败：技术支持服务器的应答无法识别，没有得到报告编号。";
    default:
        return "检测报告上传失败：服务器配置中的上传地址无效。";
    }
}
