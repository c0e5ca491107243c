#pragma once

#include <csignal>
#include <functional>
#include <string>

// Blocks SIGINT and SIGTERM in the calling thread, and so in every thread it starts later;
// call it before any thread is started. Returns the blocked set for ServeUntilSignal.
sigset_t BlockStopSignals();

// Prints "listening on URL" to stdout and runs listen until it returns, which stop makes it do
// on SIGINT or SIGTERM. Returns the exit status: 0 when stopped, 1 when listen failed.
int ServeUntilSignal(const sigset_t& signals, const std::string& url,
                     const std::function<bool()>& listen, const std::function<void()>& stop);

// The host part of a URL for a listen address: IPv6 addresses in brackets.
std::string HostForUrl(const std::string& address);
