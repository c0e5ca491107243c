#include "engine/report/report_text.h"

#include "engine/row_texts.h"

#include <cstdio>

namespace {

// Length of the UTF-8 sequence starting at text[i], 0 when it is not a valid one.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    else
        return 0;
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    // Overlong three- and four-byte forms, surrogates and values above U+10FFFF.
    const unsigned char second = byte(i + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90))
        return 0;
    return length;
}

std::string Shown(const std::optional<std::string>& value, std::size_t maxChars) {
    return value ? ReadableValue(*value, maxChars) : std::string("未找到");
}

std::string PresenceText(const std::string& token) {
    if (token == "present")
        return "存在";
    if (token == "absent")
        return "不存在";
    return token;
}

std::string SignatureStateText(const std::string& state) {
    if (state == "signed")
        return "已签名并验证";
    if (state == "unverified")
        return "需要签名，未通过验证";
    if (state == "unsigned")
        return "未签名（本程序接受未签名的服务器配置）";
    return ReadableValue(state, 0);
}

std::string Label(const CheckFact& fact) {
    if (fact.name == "server")
        return "服务器地址";
    if (fact.name == "response")
        return "服务器应答";
    if (fact.name == "document")
        return "服务器文档";
    if (fact.name == "region")
        return "区域配置";
    if (fact.name == "documentMember")
        return "文档内容";
    if (fact.name == "registryKey")
        return "注册表项";
    if (fact.name == "registryStore")
        return "注册表";
    if (fact.name == "registryValue")
        return "注册表值";
    if (fact.name == "installFolder")
        return "安装目录";
    if (fact.name == "version")
        return "版本";
    if (fact.name == "fileTime")
        return "修改时间";
    if (fact.name == "skfDll")
        return "SKFAPI20050.dll";
    if (fact.name == "ZoneMap")
        return "IE受信任站点";
    if (fact.name == "SyncMode5")
        return "IE检查网页新版本（SyncMode5）";
    if (fact.name == "SecureProtocols")
        return "IE安全协议（SecureProtocols）";
    if (fact.name == "MaximumWebSocketConnections")
        return "IE最大WebSocket连接数";
    if (fact.name == "edge")
        return "Microsoft Edge";
    return fact.name;
}

// "需要版本 3.2.1.0，当前版本 3.1.0.0（where）": a comparison named by what is compared.
bool ComparedByName(const CheckFact& fact) {
    return fact.name == "version" || fact.name == "fileTime";
}

std::string FactLine(const CheckFact& fact, std::size_t maxChars) {
    const std::string label = Label(fact);
    auto value = [&](const std::optional<std::string>& v) { return Shown(v, maxChars); };
    const bool presence =
        fact.expected && (*fact.expected == "present" || *fact.expected == "absent");
    std::string line;
    if (fact.entry >= 0)
        line = "驱动" + std::to_string(fact.entry + 1) + "：";
    if (presence && fact.found) {
        line += label + PresenceText(*fact.found);
        if (!fact.ok && *fact.expected == "absent")
            line += "，需要删除";
    } else if (presence) {
        line += label + "：无法检查";
    } else if ((fact.name == "server" || fact.name == "response") && !fact.found) {
        line += label + (fact.name == "server" ? "无效" : "：无应答");
    } else if (fact.name == "ieMode") {
        // The statement says what Edge's IE mode lacks, or that it is in order.
        return line + ReadableValue(fact.note, maxChars) +
               (fact.where.empty() ? "" : "（" + ReadableValue(fact.where, maxChars) + "）");
    } else if (fact.name == "signature") {
        // The statement says whether and how the document was signed.
        return line + ReadableValue(fact.note, maxChars) +
               (fact.where.empty() ? "" : "（" + ReadableValue(fact.where, maxChars) + "）");
    } else if (fact.name == "account") {
        // Whose settings: the statement, and the hive when it is not the program's own.
        const bool otherHive = fact.where.compare(0, 11, "HKEY_USERS\\") == 0;
        return line + ReadableValue(fact.note, maxChars) +
               (otherHive ? "（" + ReadableValue(fact.where, maxChars) + "）" : "");
    } else if (fact.name == "registryStore") {
        line += label + "无法读取";
    } else if (fact.name == "document") {
        line += label + "：" + value(fact.found) + " 字节" + (fact.ok ? "" : "，不是有效的 JSON");
    } else if (fact.name == "region") {
        line += fact.ok ? "服务器文档含区域 " + ReadableValue(fact.where, maxChars) + " 的配置"
                        : "服务器文档缺少区域 " + ReadableValue(fact.where, maxChars) +
                              " 的配置（当前 " + value(fact.found) + "）";
        return line;
    } else if (ComparedByName(fact) && fact.expected) {
        line += "需要" + label + " " + value(fact.expected) + "，当前" + label + " " +
                value(fact.found);
    } else if (fact.expected && !fact.ok) {
        line += label + "：需要 " + value(fact.expected) + "，当前 " + value(fact.found);
    } else {
        line += label + "：" + value(fact.found);
    }
    if (!fact.where.empty() && fact.found != fact.where)
        line += "（" + ReadableValue(fact.where, maxChars) + "）";
    if (!fact.note.empty())
        line += "，" + ReadableValue(fact.note, maxChars);
    return line;
}

} // namespace

std::string ReadableValue(const std::string& value, std::size_t maxChars) {
    std::string out;
    std::size_t chars = 0;
    for (std::size_t i = 0; i < value.size();) {
        if (maxChars != 0 && chars == maxChars) {
            out += "…";
            break;
        }
        const unsigned char c = static_cast<unsigned char>(value[i]);
        const std::size_t length = Utf8Length(value, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD"; // U+FFFD
            ++i;
        } else if (c == '\n') {
            out += "\\n";
            i += 1;
        } else if (c == '\t') {
            out += "\\t";
            i += 1;
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
            i += 1;
        } else {
            out.append(value, i, length);
            i += length;
        }
        ++chars;
    }
    return out;
}

std::vector<std::string> RowDetailLines(const CheckRow& row, std::size_t maxValueChars) {
    std::vector<std::string> lines;
    for (const CheckFact& fact : row.facts)
        // The signed serial and expiry are for the report's facts and the log, not the record.
        if (fact.name != "signatureTerms")
            lines.push_back(FactLine(fact, maxValueChars));
    if (!row.install.empty())
        lines.push_back("本次安装：" + row.install);
    return lines;
}

std::string ReportText(const CheckReport& report) {
    std::string text = "Quelda运行环境检测工具 " + report.toolVersion + " 检测报告\n";
    text += "检测时间：" + report.time + "\n";
    text += "区域：" + report.region + "\n";
    text += "服务器：" + ReadableValue(report.server, 0) + "，文档：" +
            ReadableValue(report.document, 0) + "\n";
    const SystemFacts& system = report.system;
    text += "系统：Windows 版本号 " + std::to_string(system.build) + "（" +
            ReadableValue(system.edition, 0) + "，" + std::to_string(system.bits) + " 位），" +
            (system.ieRetired ? "IE 已停用" : "IE 可用") + "，" +
            (system.edge ? "Microsoft Edge " + ReadableValue(*system.edge, 0)
                         : std::string("未找到 Microsoft Edge")) +
            "\n";
    text += "服务器配置签名：" + SignatureStateText(report.documentSignature) + "\n";
    for (int i = 0; i < static_cast<int>(report.rows.size()); ++i) {
        const CheckRow& row = report.rows[i];
        text += "\n【" + RowName(i) + "】" + (row.code ? row.text : std::string("未检测")) + "\n";
        for (const std::string& line : RowDetailLines(row))
            text += "  " + line + "\n";
    }
    return text;
}
