#include "serve_until_signal.h"

#include <cstdio>
#include <pthread.h>
#include <thread>

sigset_t BlockStopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

int ServeUntilSignal(const sigset_t& signals, const std::string& url,
                     const std::function<bool()>& listen, const std::function<void()>& stop) {
    std::thread stopper([&stop, signals] {
        int received = 0;
        sigwait(&signals, &received);
        stop();
    });

    std::printf("listening on %s\n", url.c_str());
    std::fflush(stdout);
    bool ok = listen();

    // Wakes the signal thread when the server ended on its own.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    if (!ok) {
        std::fprintf(stderr, "the server stopped with an error\n");
        return 1;
    }
    std::fprintf(stderr, "stopped\n");
    return 0;
}

std::string HostForUrl(const std::string& address) {
    return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}
