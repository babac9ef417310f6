#include "flint/text.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace flint {
namespace {

// Decodes one UTF-8 sequence at text[pos]. Returns its length, or 0 when the
// bytes there are not a well-formed sequence.
std::size_t decode_at(std::string_view text, std::size_t pos, char32_t& out) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char b0 = byte(pos);
    if (b0 < 0x80) {
        out = b0;
        return 1;
    }
    std::size_t len;
    char32_t cp;
    char32_t min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (pos + len > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < len; ++i) {
        const unsigned char b = byte(pos + i);
        if ((b & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    out = cp;
    return len;
}

// Length of the longest prefix of an ill-formed sequence that the WHATWG /
// Unicode "maximal subpart" rule replaces with one U+FFFD.
std::size_t maximal_subpart(std::string_view text, std::size_t pos) {
    const auto b0 = static_cast<unsigned char>(text[pos]);
    std::size_t need;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 3;
        if (b0 == 0xE0) {
            lo = 0xA0;
        } else if (b0 == 0xED) {
            hi = 0x9F;
        }
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 4;
        if (b0 == 0xF0) {
            lo = 0x90;
        } else if (b0 == 0xF4) {
            hi = 0x8F;
        }
    } else {
        return 1;
    }
    std::size_t i = 1;
    for (; i < need && pos + i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[pos + i]);
        if (b < lo || b > hi) {
            break;
        }
        lo = 0x80;
        hi = 0xBF;
    }
    return i;
}

}  // namespace

bool is_white_space(char32_t c) {
    switch (c) {
        case 0x09:
        case 0x0A:
        case 0x0B:
        case 0x0C:
        case 0x0D:
        case 0x20:
        case 0x85:
        case 0xA0:
        case 0x1680:
        case 0x2028:
        case 0x2029:
        case 0x202F:
        case 0x205F:
        case 0x3000:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

bool is_valid_utf8(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        char32_t cp;
        const std::size_t len = decode_at(text, pos, cp);
        if (len == 0) {
            return false;
        }
        pos += len;
    }
    return true;
}

std::string_view trim_white_space(std::string_view text) {
    // Leading: decode forwards.
    std::size_t begin = 0;
    while (begin < text.size()) {
        char32_t cp;
        const std::size_t len = decode_at(text, begin, cp);
        if (len == 0 || !is_white_space(cp)) {
            break;
        }
        begin += len;
    }
    // Trailing: step back over continuation bytes to the start of the last
    // sequence, and accept it only when it decodes to exactly the tail.
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && end - start < 4 &&
               (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
            --start;
        }
        char32_t cp;
        const std::size_t len = decode_at(text, start, cp);
        if (len == 0 || start + len != end || !is_white_space(cp)) {
            break;
        }
        end = start;
    }
    return text.substr(begin, end - begin);
}

std::string to_utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t pos = 0; pos < bytes.size();) {
        char32_t cp;
        const std::size_t len = decode_at(bytes, pos, cp);
        if (len != 0) {
            out.append(bytes.substr(pos, len));
            pos += len;
        } else {
            out.append("\xEF\xBF\xBD");
            pos += maximal_subpart(bytes, pos);
        }
    }
    return out;
}

std::string join_path(std::string_view base, std::string_view name) {
    if (!name.empty() && name.front() == '/') {
        return std::string(name);
    }
    std::string out(base);
    if (!out.empty() && out.back() != '/') {
        out.push_back('/');
    }
    out.append(name);
    return out;
}

std::optional<std::string> env_utf8(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || !is_valid_utf8(value)) {
        return std::nullopt;
    }
    return std::string(value);
}

std::string os_error_text(int errnum) {
    char buf[256];
    // GNU strerror_r may return a static string instead of filling buf.
    const char* msg = strerror_r(errnum, buf, sizeof buf);
    return std::string(msg) + " (os error " + std::to_string(errnum) + ")";
}

std::optional<std::string> read_open_file(int fd, std::size_t max_bytes) {
    // Only regular files are read: a FIFO or a device could block forever.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uintmax_t>(st.st_size) > max_bytes) {
        return std::nullopt;
    }
    std::string data;
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 || (n > 0 && static_cast<std::size_t>(n) > max_bytes - data.size())) {
            return std::nullopt;
        }
        if (n == 0) {
            return data;
        }
        data.append(buf, static_cast<std::size_t>(n));
    }
}

std::optional<std::string> read_file(const std::string& path, std::size_t max_bytes) {
    if (path.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    int fd;
    do {
        // O_NONBLOCK keeps a FIFO planted at the path from blocking the open.
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return std::nullopt;
    }
    auto data = read_open_file(fd, max_bytes);
    ::close(fd);
    return data;
}

std::optional<std::string> read_text_file(const std::string& path, std::size_t max_bytes) {
    auto data = read_file(path, max_bytes);
    if (!data || !is_valid_utf8(*data)) {
        return std::nullopt;
    }
    return data;
}

}  // namespace flint
