// What a failed request means, in the words of the row's record: what happened and what the
// bidder (or the network's administrator) can do about it.
#include "engine/transport/transport.h"

namespace {
constexpr long long kDay = 24 * 60 * 60;

std::string ClockText(long long skewSeconds) {
    const long long days = (skewSeconds < 0 ? -skewSeconds : skewSeconds) / kDay;
    return std::string("本机时钟不正确：比服务器时间") + (skewSeconds > 0 ? "快" : "慢") + "约 " +
           std::to_string(days) +
           " 天，服务器的证书因此被当作过期或尚未生效。请在 Windows 的“日期和时间”设置中校正本机"
           "时间（可选“自动设置时间”）后重试";
}

std::string Words(const TransportFailure& failure) {
    switch (failure.error) {
    case TransportError::None:
        return std::string();
    case TransportError::Cancelled:
        return "已取消";
    case TransportError::BadRequest:
        return "地址无效，无法发出请求";
    case TransportError::Resolve:
        return "无法解析服务器名称：请检查网络连接和服务器地址";
    case TransportError::Connect:
        return "无法连接到服务器：请检查网络连接，或服务器是否正在运行";
    case TransportError::Timeout:
        return "服务器在规定时间内没有完成应答：网络太慢或连接中断，请稍后重试";
    case TransportError::Truncated:
        return "传输中断：连接在应答完整之前断开，请稍后重试";
    case TransportError::Protocol:
        return "服务器的应答不完整或不是有效的 HTTP 应答（没有长度或结束标记），已丢弃";
    case TransportError::CertUntrusted:
        return "服务器的证书不受本机信任：签发它的证书颁发机构不是本机信任的机构，可能有人冒充服务"
               "器。"
               "请勿继续，并联系服务方或本单位的 IT 部门";
    case TransportError::CertName:
        return "服务器的证书与服务器名称不符：请核对 config.json 中的服务器地址；"
               "地址无误时可能有人冒充服务器，请勿继续";
    case TransportError::CertDate:
        if (failure.clockSkewSeconds > kDay || failure.clockSkewSeconds < -kDay)
            return ClockText(failure.clockSkewSeconds);
        return "服务器的证书已过期或尚未生效：本机时间正确，请联系服务方更新证书";
    case TransportError::CertRevoked:
        return "服务器的证书已被吊销：请联系服务方";
    case TransportError::CertRevocationUnknown:
        return "无法确认服务器的证书是否已被吊销：本机连不上证书颁发机构的吊销检查服务（网络或防火"
               "墙"
               "阻挡了它）。请稍后重试，仍不行请联系本单位的 IT 部门或服务方";
    case TransportError::CertWrongUsage:
        return "服务器的证书不是用于网站的证书，不能用来建立安全连接：请联系服务方更换证书；"
               "也可能有人冒充服务器，请勿继续";
    case TransportError::TlsUnavailable:
        return "本机无法使用 TLS 1.2 安全连接：Windows 7 请安装更新 KB3140245 并启用 TLS 1.2 后"
               "重试";
    case TransportError::TlsFailed:
        return "无法与服务器建立安全连接（TLS 握手失败）：服务器可能不支持 TLS 1.2，或网络中的设备"
               "干扰了连接";
    case TransportError::ProxyUnreachable:
        return "无法连接到代理服务器：请检查本机的代理设置（Internet 选项 → 连接 → 局域网设置）"
               "或联系网络管理员";
    case TransportError::ProxyRefused:
        return "代理服务器拒绝了连接：请联系网络管理员允许访问该服务器";
    case TransportError::ProxyAuth:
        return "代理服务器要求身份验证，但没有得到有效的用户名和密码：请用有代理权限的 Windows "
               "账户登录，或联系网络管理员";
    case TransportError::ProxyScript:
        return "无法获取或运行代理的自动配置脚本：请检查 Internet 选项中“使用自动配置脚本”的地址"
               "或联系网络管理员";
    case TransportError::Other:
        break;
    }
    return "网络错误";
}
} // namespace

std::string DescribeTransportFailure(const TransportFailure& failure) {
    std::string text = Words(failure);
    if (!text.empty() && failure.systemCode != 0)
        text += "（Windows 错误 " + std::to_string(failure.systemCode) + "）";
    return text;
}
