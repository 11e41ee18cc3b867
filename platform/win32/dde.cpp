// DDE over DDEML, the system's DDE management library, in its ANSI form: service and topic
// names are code page 932 text, and execute data travels as the bytes given.
//
// DDEML ties an instance to the thread that initialised it: its callback runs on that thread,
// from the thread's message loop or from inside DDEML calls made there. The server's callback
// therefore only records what happened; Dispatch and WaitAndDispatch pump the thread's messages
// and then hand the recorded events to the handlers, so handlers never run from inside a DDEML
// call and never re-enter DDEML's own processing.
#include "platform/dde.h"

#include <windows.h>

#include <ddeml.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/error.h"

namespace platform::dde {
namespace {

// How long Execute waits for the server's acknowledgement. The transaction is synchronous, not
// TIMEOUT_ASYNC: an asynchronous one completes only through the client thread's message loop,
// which a tool's plain thread does not run, and its data would stay held until then. The
// acknowledgement comes as soon as the server's callback has taken the data, so the wait is
// short; a server slower than this still receives the data, and Execute reports it handed over.
constexpr DWORD kExecuteAckTimeoutMs = 1500;

HDDEDATA TransactionResult(UINT_PTR value) { return reinterpret_cast<HDDEDATA>(value); }

// The client takes part in conversations it starts only: it serves nothing and needs no
// notifications.
HDDEDATA CALLBACK ClientCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
  return nullptr;
}

// A DDEML string handle of `text` in code page 932 (CP_WINANSI under a Japanese system), freed
// with its owner.
class StringHandle {
 public:
  StringHandle(DWORD instance, std::u16string_view text)
      : instance_(instance),
        handle_(DdeCreateStringHandleA(instance, ToCodePage932(text).c_str(), CP_WINANSI)) {}
  ~StringHandle() {
    if (handle_ != nullptr) DdeFreeStringHandle(instance_, handle_);
  }
  StringHandle(const StringHandle&) = delete;
  StringHandle& operator=(const StringHandle&) = delete;

  HSZ get() const { return handle_; }
  // Hands the handle over; the caller frees it.
  HSZ release() { return std::exchange(handle_, nullptr); }

 private:
  DWORD instance_;
  HSZ handle_;
};

std::u16string Describe(std::u16string_view service, std::u16string_view topic) {
  return u"「" + std::u16string(service) + u"」(" + std::u16string(topic) + u")";
}

}  // namespace

// ---- client ----

struct Instance::State {
  DWORD id = 0;  // the DDEML instance, 0 once uninitialised
};

struct Conversation::Link {
  std::shared_ptr<Instance::State> instance;
  HCONV conversation = nullptr;
};

Conversation::Conversation(std::unique_ptr<Link> link) : link_(std::move(link)) {}

Conversation::~Conversation() { Disconnect(); }

// DDEML has no data format that a server announces: a server that accepted the conversation
// takes execute commands as text, so every conversation reports CF_TEXT.
std::optional<uint32_t> Conversation::format() const { return kClipboardText; }

bool Conversation::Execute(std::string_view data, uint32_t format) {
  if (link_->conversation == nullptr || link_->instance->id == 0) return false;
  std::string bytes(data);  // DdeClientTransaction takes a pointer to modifiable bytes
  DWORD result = 0;
  if (DdeClientTransaction(reinterpret_cast<LPBYTE>(bytes.data()), static_cast<DWORD>(bytes.size()),
                           link_->conversation, nullptr, format, XTYP_EXECUTE, kExecuteAckTimeoutMs,
                           &result) != nullptr) {
    return true;
  }
  // The data reached the server when only its answer is missing or negative.
  const UINT error = DdeGetLastError(link_->instance->id);
  return error == DMLERR_EXECACKTIMEOUT || error == DMLERR_NOTPROCESSED || error == DMLERR_BUSY;
}

void Conversation::Disconnect() {
  if (link_->conversation != nullptr && link_->instance->id != 0) {
    DdeDisconnect(link_->conversation);
  }
  link_->conversation = nullptr;
}

Instance::Instance() : state_(std::make_shared<State>()) {
  DWORD id = 0;
  if (DdeInitializeA(&id, ClientCallback, APPCMD_CLIENTONLY | CBF_SKIP_ALLNOTIFICATIONS, 0) !=
      DMLERR_NO_ERROR) {
    throw Error(u"DDE を初期化できません。");
  }
  state_->id = id;
  initialized_ = true;
}

Instance::~Instance() { Uninitialize(); }

void Instance::Uninitialize() {
  if (state_->id != 0) DdeUninitialize(state_->id);
  state_->id = 0;
  initialized_ = false;
}

// `format_wait_ms` has nothing to wait for: DDEML answers a connection at once, and no format
// is announced.
std::unique_ptr<Conversation> Instance::Connect(std::u16string_view service,
                                                std::u16string_view topic, int) {
  if (!initialized_) throw Error(u"DDE が初期化されていません。");
  const StringHandle service_name(state_->id, service);
  const StringHandle topic_name(state_->id, topic);
  if (service_name.get() == nullptr || topic_name.get() == nullptr) return nullptr;
  const HCONV conversation = DdeConnect(state_->id, service_name.get(), topic_name.get(), nullptr);
  if (conversation == nullptr) return nullptr;
  auto link = std::make_unique<Conversation::Link>();
  link->instance = state_;
  link->conversation = conversation;
  return std::unique_ptr<Conversation>(new Conversation(std::move(link)));
}

// ---- server ----

struct Server::Endpoint {
  using Clock = std::chrono::steady_clock;

  struct Event {
    enum class Kind { kConnect, kExecute, kDisconnect } kind;
    uint64_t conversation;
    std::string data;
  };

  Endpoint() = default;
  ~Endpoint();
  Endpoint(const Endpoint&) = delete;
  Endpoint& operator=(const Endpoint&) = delete;

  static uint64_t IdOf(HCONV conversation) { return reinterpret_cast<uintptr_t>(conversation); }
  bool Names(HSZ topic_name, HSZ service_name) const {
    return DdeCmpStringHandles(service_name, service) == 0 &&
           DdeCmpStringHandles(topic_name, topic) == 0;
  }
  // The answer to one DDEML transaction of this server's conversations.
  HDDEDATA Handle(UINT type, HCONV conversation, HDDEDATA data);
  // Ends the conversations silent for the idle time.
  void EndSilent(Clock::time_point now);
  // How long until the next conversation falls silent for the idle time.
  std::optional<Clock::duration> UntilDue(Clock::time_point now) const;
  // Hands the recorded events to the handlers; returns how many.
  size_t Deliver(const Handlers& handlers);
  // Pumps the thread's messages, ends silent conversations, delivers; returns the events.
  size_t Run(const Handlers& handlers);

  DWORD instance = 0;
  HSZ service = nullptr;
  HSZ topic = nullptr;
  bool registered = false;
  Limits limits;
  std::map<HCONV, Clock::time_point> heard_at;  // the conversations held, last heard from
  std::deque<Event> events;
};

namespace {

// The servers of this thread: the callback is one function for all of them, and finds the
// server of a transaction by the names connected to or by the conversation.
thread_local std::vector<Server::Endpoint*> t_servers;

HDDEDATA CALLBACK ServerCallback(UINT type, UINT, HCONV conversation, HSZ hsz1, HSZ hsz2,
                                 HDDEDATA data, ULONG_PTR, ULONG_PTR) {
  for (Server::Endpoint* server : t_servers) {
    const bool ours = type == XTYP_CONNECT || type == XTYP_CONNECT_CONFIRM
                          ? server->Names(hsz1, hsz2)
                          : server->heard_at.contains(conversation);
    if (ours) return server->Handle(type, conversation, data);
  }
  return type == XTYP_EXECUTE ? TransactionResult(DDE_FNOTPROCESSED) : nullptr;
}

}  // namespace

HDDEDATA Server::Endpoint::Handle(UINT type, HCONV conversation, HDDEDATA data) {
  switch (type) {
    case XTYP_CONNECT:
      // Beyond the cap the connection is refused: the client's DdeConnect fails at once.
      return TransactionResult(heard_at.size() < limits.max_conversations ? TRUE : FALSE);
    case XTYP_CONNECT_CONFIRM:
      heard_at[conversation] = Clock::now();
      events.push_back({Event::Kind::kConnect, IdOf(conversation), {}});
      return nullptr;
    case XTYP_EXECUTE: {
      std::string bytes(DdeGetData(data, nullptr, 0, 0), '\0');
      if (!bytes.empty()) {
        DdeGetData(data, reinterpret_cast<LPBYTE>(bytes.data()), static_cast<DWORD>(bytes.size()),
                   0);
      }
      heard_at[conversation] = Clock::now();
      events.push_back({Event::Kind::kExecute, IdOf(conversation), std::move(bytes)});
      return TransactionResult(DDE_FACK);
    }
    case XTYP_DISCONNECT:
      heard_at.erase(conversation);
      events.push_back({Event::Kind::kDisconnect, IdOf(conversation), {}});
      return nullptr;
    default:
      return nullptr;
  }
}

void Server::Endpoint::EndSilent(Clock::time_point now) {
  for (auto it = heard_at.begin(); it != heard_at.end();) {
    if (now - it->second < limits.idle_timeout) {
      ++it;
      continue;
    }
    // The side that ends a conversation is not told of it by DDEML: the event is recorded here.
    const HCONV conversation = it->first;
    it = heard_at.erase(it);
    DdeDisconnect(conversation);
    events.push_back({Event::Kind::kDisconnect, IdOf(conversation), {}});
  }
}

std::optional<Server::Endpoint::Clock::duration> Server::Endpoint::UntilDue(
    Clock::time_point now) const {
  std::optional<Clock::duration> due;
  for (const auto& [conversation, at] : heard_at) {
    const Clock::duration left = std::max(at + limits.idle_timeout - now, Clock::duration::zero());
    if (!due || left < *due) due = left;
  }
  return due;
}

size_t Server::Endpoint::Deliver(const Handlers& handlers) {
  size_t delivered = 0;
  // A handler may pump messages itself and so add events: they are taken in this round too.
  while (!events.empty()) {
    const Event event = std::move(events.front());
    events.pop_front();
    ++delivered;
    switch (event.kind) {
      case Event::Kind::kConnect:
        if (handlers.on_connect) handlers.on_connect(event.conversation);
        break;
      case Event::Kind::kExecute:
        // An execute command carries no format in DDE: it is text, CF_TEXT.
        if (handlers.on_execute)
          handlers.on_execute(event.conversation, kClipboardText, event.data);
        break;
      case Event::Kind::kDisconnect:
        if (handlers.on_disconnect) handlers.on_disconnect(event.conversation);
        break;
    }
  }
  return delivered;
}

Server::Endpoint::~Endpoint() {
  std::erase(t_servers, this);
  if (instance == 0) return;
  if (registered) DdeNameService(instance, service, nullptr, DNS_UNREGISTER);
  if (service != nullptr) DdeFreeStringHandle(instance, service);
  if (topic != nullptr) DdeFreeStringHandle(instance, topic);
  // Ends the conversations still held.
  DdeUninitialize(instance);
}

// The format argument has no counterpart in DDEML, where a server announces none: execute
// commands are text. Accepting is never paused: DDEML takes connections on the thread's
// message loop, and no descriptor runs out the way a socket server's does.
Server::Server(std::u16string_view service, std::u16string_view topic, uint32_t)
    : endpoint_(std::make_unique<Endpoint>()) {
  Endpoint& e = *endpoint_;
  if (DdeInitializeA(&e.instance, ServerCallback,
                     APPCLASS_STANDARD | CBF_FAIL_ADVISES | CBF_FAIL_REQUESTS | CBF_FAIL_POKES |
                         CBF_FAIL_SELFCONNECTIONS | CBF_SKIP_REGISTRATIONS |
                         CBF_SKIP_UNREGISTRATIONS,
                     0) != DMLERR_NO_ERROR) {
    e.instance = 0;
    throw Error(u"DDE サーバー" + Describe(service, topic) + u"を開始できません。");
  }
  StringHandle service_name(e.instance, service);
  StringHandle topic_name(e.instance, topic);
  if (service_name.get() == nullptr || topic_name.get() == nullptr) {
    throw Error(u"DDE サーバー" + Describe(service, topic) + u"を開始できません。");
  }
  e.service = service_name.release();
  e.topic = topic_name.release();
  // A server that ended went with its process's windows; one that answers is running. Two
  // servers starting at the same moment can both pass this check.
  if (const HCONV probe = DdeConnect(e.instance, e.service, e.topic, nullptr)) {
    DdeDisconnect(probe);
    throw Error(u"DDE サーバー" + Describe(service, topic) + u"は既に動いています。");
  }
  t_servers.push_back(&e);
  if (DdeNameService(e.instance, e.service, nullptr, DNS_REGISTER) == nullptr) {
    throw Error(u"DDE サーバー" + Describe(service, topic) + u"を登録できません。");
  }
  e.registered = true;
}

Server::~Server() = default;

size_t Server::Endpoint::Run(const Handlers& handlers) {
  // Every message of the thread: DDEML's windows receive theirs among the others.
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  EndSilent(Clock::now());
  return Deliver(handlers);
}

void Server::Dispatch(const Handlers& handlers) { endpoint_->Run(handlers); }

bool Server::WaitAndDispatch(int timeout_ms, const Handlers& handlers) {
  Endpoint& e = *endpoint_;
  bool ready = !e.events.empty();
  if (!ready) {
    DWORD wait = timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms);
    // The wait ends early when a silent conversation's time is up.
    if (const auto due = e.UntilDue(Endpoint::Clock::now())) {
      const auto due_ms = std::chrono::ceil<std::chrono::milliseconds>(*due).count();
      wait = std::min(wait, static_cast<DWORD>(due_ms));
    }
    ready = MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE) ==
            WAIT_OBJECT_0;
  }
  return e.Run(handlers) > 0 || ready;
}

const Server::Limits& Server::limits() const { return endpoint_->limits; }

void Server::SetLimits(const Limits& limits) { endpoint_->limits = limits; }

}  // namespace platform::dde
