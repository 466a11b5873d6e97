#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "python/messages.h"
#include "python/sources.h"
#include "tree/recycle.h"
#include "unicode/unicode.h"
#include "xpath/watch.h"

namespace tovarn::python {
namespace {

class File {
 public:
  explicit File(int fd) : fd_(fd) {}
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool is_xml_text(std::string_view argument) {
  std::size_t i = argument.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
  while (i < argument.size()) {
    const std::size_t start = i;
    if (!unicode::is_white_space(unicode::decode(argument, i))) return argument[start] == '<';
  }
  return false;
}

// The most the XML reader takes.
constexpr std::uint64_t kMaxSourceBytes = UINT32_MAX - 1;

using Read = std::expected<std::string, std::string>;

Read too_large() { return std::unexpected(std::string(msg::text(msg::Text::source_too_large))); }

// Waits until the descriptor has something to read or its writer is gone,
// asking the call's watch every few milliseconds whether to give up. False
// when the call is stopped; the stop is then its result.
bool wait_readable(int fd) {
  for (;;) {
    pollfd waiting{fd, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, 5);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return true;  // the read reports it
    if (xpath::Watch* watch = xpath::current_watch(); watch != nullptr && watch->poll_now())
      return false;
  }
}

// The file's bytes, or the reason it could not be read. Opening never waits,
// so a FIFO without a writer reads as empty, and a pipe is waited on with the
// call still able to stop.
Read read_file(const std::string& path) {
  if (path.find('\0') != std::string::npos) {
    return std::unexpected(std::string(msg::text(msg::Text::nul_in_path)));
  }
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::unexpected(msg::os_error(errno));
  File file(fd);

  struct stat info {};
  if (::fstat(fd, &info) != 0) return std::unexpected(msg::os_error(errno));
  // A device such as /dev/zero never ends; ordinary files, directories (which
  // fail on read) and pipes go on.
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
    return std::unexpected(std::string(msg::text(msg::Text::not_regular_file)));
  }

  std::string content;
  if (S_ISREG(info.st_mode) && info.st_size > 0) {
    if (static_cast<std::uint64_t>(info.st_size) > kMaxSourceBytes) return too_large();
    content = tree::take_buffer<std::string>(static_cast<std::size_t>(info.st_size));
  }
  // On the heap: a thread's whole stack may be smaller.
  std::vector<char> buffer(std::size_t{1} << 16);
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n > 0) {
      if (content.size() + static_cast<std::size_t>(n) > kMaxSourceBytes) return too_large();
      content.append(buffer.data(), static_cast<std::size_t>(n));
    } else if (n == 0) {
      return content;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!wait_readable(fd)) return std::unexpected(xpath::interrupted_message());
    } else if (errno == EINTR) {
      if (xpath::Watch* watch = xpath::current_watch(); watch != nullptr && watch->poll_now())
        return std::unexpected(xpath::interrupted_message());
    } else {
      return std::unexpected(msg::os_error(errno));
    }
  }
}

}  // namespace

bool known_long(std::initializer_list<std::string_view> sources) {
  constexpr std::size_t kLongBytes = std::size_t{16} << 10;
  std::size_t bytes = 0;
  for (const std::string_view source : sources) {
    if (!is_xml_text(source)) return true;
    bytes += source.size();
  }
  return bytes > kLongBytes;
}

Outcome<std::string> load_source(std::string argument, std::string_view name) {
  // Text read from a file with a byte-order mark still starts with it.
  if (is_xml_text(argument)) {
    if (argument.starts_with(kByteOrderMark)) argument.erase(0, kByteOrderMark.size());
    return argument;
  }
  auto content = read_file(argument);
  if (content && content->starts_with(kByteOrderMark)) content->erase(0, kByteOrderMark.size());
  if (content && !unicode::is_valid_utf8(*content)) {
    content = std::unexpected(std::string(msg::text(msg::Text::invalid_utf8)));
  }
  if (!content) return value_error(msg::could_not_read(name, argument, content.error()));
  return std::move(*content);
}

}  // namespace tovarn::python
