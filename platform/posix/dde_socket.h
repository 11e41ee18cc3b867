// How DDE travels on POSIX: Unix-domain stream sockets in a private folder. Used by dde.cpp;
// platform tests include it to check the folder and the exchange byte by byte.
//
// The endpoint of service S and topic T is the socket "<dir>/<s>.<t>", both names folded to
// ASCII lower case, where <dir> is "$XDG_RUNTIME_DIR/dde", else "$XDG_CACHE_HOME/dde", else
// "$HOME/.cache/dde" (the home from the password database when HOME is unset); variables that
// are empty or not absolute count as unset. The folder has mode 0700 and is owned by the user,
// and only the user (or root) may add names to the folder holding it, so that no other user can
// take its name first. Clients and servers of one user's session share the environment and so
// the folder. A conversation is one connection. The server speaks first:
//   u32 LE  data format of the conversation (kClipboardText = 1)
// then each execute transaction is one frame from the client:
//   u8      'E'
//   u32 LE  data format
//   u32 LE  length
//   ...     the data bytes
// Closing the connection ends the conversation. The client never waits for an answer. Both
// sides refuse peers of other users.
#ifndef QUORVEL_PLATFORM_POSIX_DDE_SOCKET_H_
#define QUORVEL_PLATFORM_POSIX_DDE_SOCKET_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace platform::dde {

inline constexpr char kExecuteTag = 'E';
inline constexpr size_t kFrameHeader = 9;  // tag, format, length
// Frames larger than this end the conversation.
inline constexpr uint32_t kMaxExecuteLength = 1u << 20;

// The socket folder (not created); empty when the user has no home to hold it.
std::filesystem::path EndpointDirectory();

// The socket path of a service and topic (names folded to ASCII lower case).
std::filesystem::path EndpointPath(std::u16string_view service, std::u16string_view topic);

// Creates the socket folder with mode 0700 (and missing folders above it, also 0700), or checks
// that the existing one is a real folder owned by the user and closed to everyone else. Raises
// platform::Error otherwise, and when others may add names beside it.
void EnsureEndpointDirectory();

// Whether the folder holding the sockets is the user's alone; sockets elsewhere are never used.
bool DirectoryIsPrivate(const std::filesystem::path& dir);

// Whether the other end of a connected socket runs as this process's user.
bool PeerIsSameUser(int fd);

// The wire form: little-endian u32 values and whole execute frames.
void PutU32(std::string& out, uint32_t value);
uint32_t GetU32(const char* bytes);
std::string ExecuteFrame(std::string_view data, uint32_t format);

}  // namespace platform::dde

#endif  // QUORVEL_PLATFORM_POSIX_DDE_SOCKET_H_
