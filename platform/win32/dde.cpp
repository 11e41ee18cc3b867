// PENDING: replaced by the DDEML implementation.
#include "platform/dde.h"

#include "platform/error.h"

namespace platform::dde {
struct Conversation::Link {};
struct Server::Endpoint {
  Server::Limits limits;
};
Conversation::Conversation(std::unique_ptr<Link> link) : link_(std::move(link)) {}
Conversation::~Conversation() = default;
std::optional<uint32_t> Conversation::format() const { return std::nullopt; }
bool Conversation::Execute(std::string_view, uint32_t) { return false; }
void Conversation::Disconnect() {}
Instance::Instance() : initialized_(true) {}
std::unique_ptr<Conversation> Instance::Connect(std::u16string_view, std::u16string_view, int) {
  return nullptr;
}
Server::Server(std::u16string_view, std::u16string_view, uint32_t) { throw Error(u"未実装"); }
Server::~Server() = default;
void Server::Dispatch(const Handlers&) {}
bool Server::WaitAndDispatch(int, const Handlers&) { return false; }
const Server::Limits& Server::limits() const { return endpoint_->limits; }
void Server::SetLimits(const Limits& limits) { endpoint_->limits = limits; }
}  // namespace platform::dde
