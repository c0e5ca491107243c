#include "http_session.h"

#include "common/text/ascii.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

namespace {

constexpr std::size_t kPiece = 64 * 1024;         // bytes read or sent at a time
constexpr std::size_t kLingerBytes = 1024 * 1024; // read and dropped after a refusal
constexpr auto kLingerTime = std::chrono::seconds(1);

std::string Reason(int status) {
    const beast::string_view text = http::obsolete_reason(static_cast<http::status>(status));
    return text == "<unknown-status>" ? std::string("Status") : std::string(text);
}

// A header value on one line, whatever a handler put into it.
std::string OneLine(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '\r' || c == '\n' ? ' ' : c;
    return out;
}

bool SentByListener(const std::string& name) {
    return ascii::EqualIgnoringCase(name, "Content-Length") ||
           ascii::EqualIgnoringCase(name, "Connection") ||
           ascii::EqualIgnoringCase(name, "Transfer-Encoding");
}

// Bytes written to the socket that the peer has not acknowledged yet; 0 where the system
// does not say.
std::uint64_t Unacknowledged(int fd) {
#ifdef TIOCOUTQ
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0)
        return static_cast<std::uint64_t>(queued);
#else
    (void)fd;
#endif
    return 0;
}

} // namespace

HttpSession::HttpSession(HttpListener::Impl& owner, tcp::socket socket, std::string address,
                         std::string group, std::string network)
    : owner_(owner), socket_(std::move(socket)), timer_(socket_.get_executor()),
      buffer_(std::max<std::size_t>(kPiece, owner.limits.maxHeaderBytes + 1024u)),
      address_(std::move(address)), group_(std::move(group)), network_(std::move(network)) {
    sessionEntry_ = owner_.sessions.insert(owner_.sessions.end(), this);
}

HttpSession::~HttpSession() {
    LeaveIdle();
    owner_.sessions.erase(sessionEntry_);
    if (fileFd_ >= 0)
        ::close(fileFd_);
    ReleaseCounts();
}

void HttpSession::ReleaseCounts() {
    if (released_)
        return;
    released_ = true;
    owner_.Release(group_, network_);
}

void HttpSession::Evict() {
    abort_ = true;
    Close();
    ReleaseCounts();
}

void HttpSession::Start() {
    ReadRequest(owner_.limits.firstRequestDeadline);
}

void HttpSession::Arm(std::chrono::milliseconds duration) {
    timedOut_ = false;
    timer_.expires_after(duration);
    timer_.async_wait([self = shared_from_this()](error_code ec) {
        if (ec)
            return;
        self->timedOut_ = true;
        error_code ignored;
        self->socket_.cancel(ignored);
    });
}

void HttpSession::WaitForRequest() {
    if (owner_.stopping) {
        Close();
        return;
    }
    if (buffer_.size() > 0) { // the next request came with the last one
        ReadRequest(owner_.limits.requestDeadline);
        return;
    }
    if (owner_.Busy()) {
        Close();
        return;
    }
    idleEntry_ = owner_.idle.insert(owner_.idle.end(), this);
    inIdleList_ = true;
    Arm(owner_.limits.idleTimeout);
    socket_.async_wait(tcp::socket::wait_read, [self = shared_from_this()](error_code ec) {
        self->LeaveIdle();
        if (ec || !self->socket_.is_open()) {
            self->Close();
            return;
        }
        self->ReadRequest(self->owner_.limits.requestDeadline);
    });
}

void HttpSession::CloseIfIdle() {
    if (!inIdleList_)
        return;
    LeaveIdle();
    error_code ignored;
    socket_.cancel(ignored);
}

void HttpSession::StopGently() {
    if (busy_)
        closeAfter_ = true;
    else
        Close();
}

void HttpSession::LeaveIdle() {
    if (!inIdleList_)
        return;
    owner_.idle.erase(idleEntry_);
    inIdleList_ = false;
}

void HttpSession::ReadRequest(std::chrono::milliseconds deadline) {
    parser_.emplace();
    parser_->header_limit(owner_.limits.maxHeaderBytes);
    parser_->body_limit(std::uint64_t{owner_.limits.maxBody});
    request_ = HttpRequest{};
    request_.method = "-";
    request_.remoteAddr = address_;
    response_ = HttpResponse{};
    isHead_ = false;
    Arm(deadline);
    http::async_read_header(
        socket_, buffer_, *parser_,
        [self = shared_from_this()](error_code ec, std::size_t) { self->OnHeader(ec); });
}

void HttpSession::OnHeader(error_code ec) {
    if (ec) {
        Failed(ec);
        return;
    }
    const auto& message = parser_->get();
    const auto lines = static_cast<std::size_t>(std::distance(message.begin(), message.end()));
    request_.method = std::string(message.method_string());
    request_.target = std::string(message.target());
    const size_t question = request_.target.find('?');
    request_.path = DecodeUrl(request_.target.substr(0, question), false);
    if (question != std::string::npos)
        request_.query = request_.target.substr(question + 1);
    if (lines > owner_.limits.maxHeaderLines) {
        Refuse(431,
               "more than " + std::to_string(owner_.limits.maxHeaderLines) + " header lines\n");
        return;
    }
    for (const auto& field : message)
        request_.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    isHead_ = message.method() == http::verb::head;
    keepAlive_ = message.keep_alive();

    // A request with neither a length nor chunks has no body (RFC 9112, 6.3), whatever its
    // method: what follows it is the next request.
    if (!parser_->is_done() &&
        ascii::EqualIgnoringCase(request_.Header("Expect"), "100-continue")) {
        static const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
        asio::async_write(socket_, asio::buffer(kContinue),
                          [self = shared_from_this()](error_code e, std::size_t) {
                              if (e)
                                  self->Failed(e);
                              else
                                  self->ReadBody();
                          });
        return;
    }
    ReadBody();
}

void HttpSession::ReadBody() {
    if (parser_->is_done()) {
        request_.body = std::move(parser_->get().body());
        Dispatch();
        return;
    }
    http::async_read(socket_, buffer_, *parser_,
                     [self = shared_from_this()](error_code ec, std::size_t) {
                         if (ec) {
                             self->Failed(ec);
                             return;
                         }
                         self->request_.body = std::move(self->parser_->get().body());
                         self->Dispatch();
                     });
}

void HttpSession::Dispatch() {
    timer_.cancel(); // a handler's time is the server's, not the client's
    busy_ = true;
    owner_.workers.Post([self = shared_from_this()]() mutable {
        HttpSession& session = *self;
        try {
            session.owner_.handler(session.request_, session.response_);
        } catch (...) {
            session.response_ = HttpResponse{};
            session.response_.status = 500;
            session.response_.SetContent("internal error\n", "text/plain; charset=utf-8");
        }
        // The job's reference moves into the posted call: whichever reference is the last,
        // it is dropped on the I/O thread, which alone touches the listener's lists.
        const auto executor = session.socket_.get_executor();
        asio::post(executor, [self = std::move(self)] { self->Send(); });
    });
}

void HttpSession::Failed(error_code ec) {
    if (!socket_.is_open())
        return;
    if (timedOut_) {
        Refuse(408, "the request did not arrive in time\n");
    } else if (ec == http::error::end_of_stream || ec == asio::error::operation_aborted ||
               ec == asio::error::connection_reset || ec == asio::error::broken_pipe) {
        Close();
    } else if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
        Refuse(431, "the request's header is larger than " +
                        std::to_string(owner_.limits.maxHeaderBytes) + " bytes\n");
    } else if (ec == http::error::body_limit) {
        Refuse(413, "the request body is larger than " + std::to_string(owner_.limits.maxBody) +
                        " bytes\n");
    } else {
        Refuse(400, "malformed request\n");
    }
}

void HttpSession::Refuse(int status, const std::string& text) {
    response_ = HttpResponse{};
    response_.status = status;
    response_.SetContent(text, "text/plain; charset=utf-8");
    closeAfter_ = true;
    keepAlive_ = false;
    isHead_ = false;
    Send();
}

void HttpSession::Send() {
    if (!socket_.is_open())
        return;
    ++served_;
    // Past half the connections none is kept open between requests; said in this answer, so
    // that the client does not send its next request into a connection about to close.
    keepAlive_ = keepAlive_ && !closeAfter_ && served_ < owner_.limits.maxRequestsPerConnection &&
                 !owner_.Busy();
    if (!response_.file.empty()) {
        fileFd_ = ::open(response_.file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fileFd_ < 0) {
            response_.status = 500;
            response_.SetContent("the file could not be read\n", "text/plain; charset=utf-8");
        }
    }
    head_ =
        "HTTP/1.1 " + std::to_string(response_.status) + " " + Reason(response_.status) + "\r\n";
    for (const auto& [name, value] : response_.headers)
        if (!SentByListener(name))
            head_ += OneLine(name) + ": " + OneLine(value) + "\r\n";
    head_ += "Content-Length: " + std::to_string(response_.BodyLength()) + "\r\n";
    if (!keepAlive_)
        head_ += "Connection: close\r\n";
    head_ += "\r\n";

    headSent_ = bodySent_ = chunkUsed_ = chunkSize_ = 0;
    fileSent_ = written_ = 0;
    sendStart_ = std::chrono::steady_clock::now();
    ArmPace();
    WriteMore();
}

void HttpSession::WriteMore() {
    out_.clear();
    if (headSent_ < head_.size())
        out_.push_back(asio::buffer(head_.data() + headSent_, head_.size() - headSent_));
    if (!isHead_ && response_.file.empty() && bodySent_ < response_.body.size()) {
        const std::size_t n = std::min(kPiece, response_.body.size() - bodySent_);
        out_.push_back(asio::buffer(response_.body.data() + bodySent_, n));
    } else if (!isHead_ && fileFd_ >= 0) {
        if (chunkUsed_ == chunkSize_ && fileSent_ < response_.fileLength) {
            chunk_.resize(kPiece);
            const auto want = static_cast<std::size_t>(
                std::min<std::uint64_t>(kPiece, response_.fileLength - fileSent_));
            const ssize_t got = ::pread(fileFd_, chunk_.data(), want,
                                        static_cast<off_t>(response_.fileOffset + fileSent_));
            if (got <= 0) { // the file shrank: the connection ends short rather than lie
                Sent(false);
                return;
            }
            chunkUsed_ = 0;
            chunkSize_ = static_cast<std::size_t>(got);
        }
        if (chunkUsed_ < chunkSize_)
            out_.push_back(asio::buffer(chunk_.data() + chunkUsed_, chunkSize_ - chunkUsed_));
    }
    if (out_.empty()) {
        Sent(true);
        return;
    }
    socket_.async_write_some(out_, [self = shared_from_this()](error_code ec, std::size_t n) {
        if (ec) {
            self->Sent(false);
            return;
        }
        self->Advance(n);
        self->WriteMore();
    });
}

void HttpSession::Advance(std::size_t written) {
    written_ += written;
    const std::size_t head = std::min(written, head_.size() - headSent_);
    headSent_ += head;
    written -= head;
    if (response_.file.empty()) {
        bodySent_ += written;
    } else {
        chunkUsed_ += written;
        fileSent_ += written;
    }
}

std::chrono::steady_clock::time_point HttpSession::PaceDeadline() {
    const std::uint64_t queued = Unacknowledged(socket_.native_handle());
    const std::uint64_t taken = written_ > queued ? written_ - queued : 0;
    const std::uint64_t rate = std::max<std::uint64_t>(1, owner_.limits.minSendRate);
    const auto allowance = std::chrono::milliseconds(taken * 1000 / rate);
    return sendStart_ + owner_.limits.sendTimeout + allowance;
}

void HttpSession::ArmPace() {
    timedOut_ = false;
    timer_.expires_at(PaceDeadline());
    timer_.async_wait([self = shared_from_this()](error_code ec) {
        if (!ec)
            self->Paced();
    });
}

// The client took more meanwhile: the deadline moves with it. Otherwise the answer is given up.
void HttpSession::Paced() {
    if (!socket_.is_open())
        return;
    if (std::chrono::steady_clock::now() < PaceDeadline()) {
        ArmPace();
        return;
    }
    timedOut_ = true;
    abort_ = true;
    error_code ignored;
    socket_.cancel(ignored);
}

void HttpSession::Sent(bool ok) {
    timer_.cancel();
    busy_ = false;
    if (fileFd_ >= 0) {
        ::close(fileFd_);
        fileFd_ = -1;
    }
    if (owner_.logger)
        owner_.logger(request_, response_);
    if (!ok || owner_.stopping)
        Close();
    else if (closeAfter_ || !keepAlive_)
        Linger();
    else
        WaitForRequest();
}

// After a refusal the client may still be sending: the rest is read and dropped for a moment,
// so that the answer is not lost to a reset, then the connection closes.
void HttpSession::Linger() {
    error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_send, ignored);
    Arm(std::chrono::duration_cast<std::chrono::milliseconds>(kLingerTime));
    drained_ = 0;
    Drain();
}

void HttpSession::Drain() {
    chunk_.resize(kPiece);
    socket_.async_read_some(asio::buffer(chunk_),
                            [self = shared_from_this()](error_code ec, std::size_t n) {
                                self->drained_ += n;
                                if (ec || self->drained_ > kLingerBytes)
                                    self->Close();
                                else
                                    self->Drain();
                            });
}

void HttpSession::Close() {
    LeaveIdle();
    timer_.cancel();
    if (!socket_.is_open())
        return;
    error_code ignored;
    if (abort_) // what the client left unread goes with it, not out over minutes
        socket_.set_option(asio::socket_base::linger(true, 0), ignored);
    else
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
}
