#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace platform {

// Starts up to count threads, each running body. The system may refuse a thread (a limit on
// processes, no memory for its stack): then no more are tried, the threads that did start are
// returned, and *failure says why the rest did not. The threads join when they are destroyed,
// so a caller that gives up never leaves one running unjoined.
std::vector<std::jthread> startThreads(int count, const std::function<void()>& body,
                                       std::string* failure = nullptr);

}  // namespace platform
