#include "platform/threadstart.h"

#include <system_error>

namespace platform {

std::vector<std::jthread> startThreads(int count, const std::function<void()>& body,
                                       std::string* failure) {
    std::vector<std::jthread> threads;
    threads.reserve(std::size_t(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        try {
            threads.emplace_back(body);
        } catch (const std::system_error& e) {
            if (failure) {
                *failure = e.code().message();
            }
            break;
        }
    }
    return threads;
}

}  // namespace platform
