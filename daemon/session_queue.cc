#include "daemon/session_queue.h"

#include <asio/post.hpp>

namespace bcn {

void SessionQueue::post(std::function<void()> work) { asio::post(strand_, std::move(work)); }

}  // namespace bcn
