#include "html.h"
#include "pages.h"

std::string LoginPage(const std::string& message) {
    std::string b;
    if (!message.empty())
        b += "<p class=\"error\">" + Html(message) + "</p>\n";
    b += "<form method=\"post\" action=\"/support/login\"><label>访问令牌 "
         "<input type=\"password\" name=\"token\" autocomplete=\"current-password\" autofocus>"
         "</label> <button type=\"submit\">登录</button></form>\n";
    return PageHtml("技术支持登录", b, false);
}
