#pragma once

#include "engine/upload/report_upload.h"

#include <string>

// What the window says after an upload, in Chinese.
// "检测报告已上传，报告编号：K7QF-3MZP（请把编号告诉技术支持人员）"
std::string UploadSuccessText(const std::string& code);
// Why an upload failed (an UploadResult other than kUploaded), for the person at the
// computer: no answer, the server's HTTP status, or an answer that is not a code.
std::string UploadFailureText(int result, const UploadAnswer& answer);
