#include "platform/text_encoding.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/ascii.h"

namespace {

constexpr std::size_t max_label_length = 64;
constexpr std::size_t max_iconv_labels = 4096;

// The labels that iconv_conversion has given a constant, in the order of
// their constants. A deque never moves what it holds, so a name handed out
// stays valid while others are added.
class IconvLabels {
 public:
  uint32 find_or_add(const std::string& label) {
    std::lock_guard lock(mutex_);
    if (const auto known = constants_.find(label); known != constants_.end()) return known->second;
    if (labels_.size() == max_iconv_labels || !iconv_knows(label)) return WYKE_NO_CONVERSION;
    const uint32 encoding = WYKE_ICONV_CONVERSION + static_cast<uint32>(labels_.size());
    labels_.push_back(label);
    constants_.emplace(label, encoding);
    return encoding;
  }

  const char* name(uint32 encoding) {
    std::lock_guard lock(mutex_);
    const std::size_t index = encoding - WYKE_ICONV_CONVERSION;
    return index < labels_.size() ? labels_[index].c_str() : nullptr;
  }

 private:
  static bool iconv_knows(const std::string& label) {
    const iconv_t cd = iconv_open("UTF-8", label.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
    return true;
  }

  std::mutex mutex_;
  std::deque<std::string> labels_;
  std::unordered_map<std::string, uint32> constants_;
};

IconvLabels& iconv_labels() {
  static IconvLabels labels;
  return labels;
}

bool is_label_byte(char c) {
  const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  return alnum || (c != '\0' && std::strchr("-_.:+()", c) != nullptr);
}

// iconv's name for a conversion constant, or nullptr when there is none.
const char* iconv_name(uint32 encoding) {
  static constexpr const char* iso8859[] = {
      "ISO-8859-1", "ISO-8859-2", "ISO-8859-3", "ISO-8859-4", "ISO-8859-5",
      "ISO-8859-6", "ISO-8859-7", "ISO-8859-8", "ISO-8859-9",
  };
  if (encoding <= B_ISO9_CONVERSION) return iso8859[encoding];
  if (encoding == B_JIS_CONVERSION) return "ISO-2022-JP";
  if (encoding >= WYKE_ICONV_CONVERSION) return iconv_labels().name(encoding);
  return nullptr;
}

// The output area, filled from the front, never past its end.
struct Output {
  char* next;
  std::size_t room;

  bool put(const char* bytes, std::size_t count) {
    if (count > room) return false;
    std::memcpy(next, bytes, count);
    next += count;
    room -= count;
    return true;
  }
};

struct Input {
  const char* next;
  std::size_t left;

  void skip(std::size_t count) {
    next += count;
    left -= count;
  }
};

bool is_jis_byte(char c) { return c >= 0x21 && c <= 0x7e; }

// How many bytes a character without a mapping takes. iconv refuses a byte in
// 0x21..0x7e only inside JIS X 0208 text, where characters are pairs: skipping
// the whole pair keeps the rest of the text aligned.
std::size_t unmapped_length(uint32 encoding, const Input& in) {
  if (encoding != B_JIS_CONVERSION || in.left < 2) return 1;
  return is_jis_byte(in.next[0]) && is_jis_byte(in.next[1]) ? 2 : 1;
}

// The converters a thread has opened, each reset to its initial state before
// every use. iconv_close unloads the charset's module again, and in a process
// of several threads each unload flushes the TLB of every CPU: opening and
// closing one per encoded word made a check of a few thousand messages spend
// most of its time there.
class Converters {
 public:
  Converters() = default;
  ~Converters() {
    for (const iconv_t cd : open_)
      if (cd != none) iconv_close(cd);
  }
  Converters(const Converters&) = delete;
  Converters& operator=(const Converters&) = delete;

  // The converter from `encoding` to UTF-8, or none when the system has none.
  iconv_t get(uint32 encoding) {
    const std::size_t slot =
        encoding >= WYKE_ICONV_CONVERSION ? B_JIS_CONVERSION + 1 + (encoding - WYKE_ICONV_CONVERSION) : encoding;
    if (slot >= open_.size()) open_.resize(slot + 1, none);
    iconv_t& cd = open_[slot];
    if (cd == none)
      cd = iconv_open("UTF-8", iconv_name(encoding));
    else
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    return cd;
  }

  static inline const iconv_t none = reinterpret_cast<iconv_t>(-1);

 private:
  // By constant, the ones of iconv_conversion after the platform's.
  std::vector<iconv_t> open_;
};

status_t convert_with_iconv(uint32 encoding, Input& in, Output& out, char substitute) {
  thread_local Converters converters;
  const iconv_t cd = converters.get(encoding);
  if (cd == Converters::none) return B_ERROR;
  while (in.left > 0) {
    char* from = const_cast<char*>(in.next);  // iconv's prototype; it only reads
    const std::size_t result = iconv(cd, &from, &in.left, &out.next, &out.room);
    const int error = errno;
    in.next = from;
    if (result != static_cast<std::size_t>(-1)) break;
    // E2BIG: the next character does not fit, and it is left out whole.
    if (error != EILSEQ && error != EINVAL) break;
    if (!out.put(&substitute, 1)) break;
    // EINVAL: the input ends inside a character or an escape sequence.
    in.skip(error == EINVAL ? in.left : unmapped_length(encoding, in));
  }
  return B_OK;
}

// Text that claims to be UTF-8 is copied as it is, each invalid byte replaced.
void check_utf8(Input& in, Output& out, char substitute) {
  while (in.left > 0) {
    const std::size_t length = ::utf8_length(in.next, in.left);
    if (length == 0 ? !out.put(&substitute, 1) : !out.put(in.next, length)) return;
    in.skip(length == 0 ? 1 : length);
  }
}

}  // namespace

std::size_t utf8_length(const char* text, std::size_t left) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xbf;  // bounds of the second byte
  if (p[0] < 0x80) return 1;
  if (p[0] >= 0xc2 && p[0] <= 0xdf) {
    length = 2;
  } else if (p[0] >= 0xe0 && p[0] <= 0xef) {
    length = 3;
    if (p[0] == 0xe0) low = 0xa0;
    if (p[0] == 0xed) high = 0x9f;
  } else if (p[0] >= 0xf0 && p[0] <= 0xf4) {
    length = 4;
    if (p[0] == 0xf0) low = 0x90;
    if (p[0] == 0xf4) high = 0x8f;
  } else {
    return 0;
  }
  if (left < length || p[1] < low || p[1] > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (p[i] < 0x80 || p[i] > 0xbf) return 0;
  return length;
}

uint32 iconv_conversion(const std::string& label) {
  if (label.empty() || label.size() > max_label_length) return WYKE_NO_CONVERSION;
  if (!std::all_of(label.begin(), label.end(), is_label_byte)) return WYKE_NO_CONVERSION;
  std::string upper = label;
  to_ascii_upper(upper);
  return iconv_labels().find_or_add(upper);
}

status_t convert_to_utf8(uint32 srcEncoding, const char* src, int32* srcLen, char* dst,
                         int32* dstLen, int32* state, char substitute) {
  if (srcLen == nullptr || dstLen == nullptr) return B_BAD_VALUE;
  const bool known = srcEncoding == WYKE_UTF8_CONVERSION || iconv_name(srcEncoding) != nullptr;
  const bool areas = (src != nullptr || *srcLen == 0) && (dst != nullptr || *dstLen == 0);
  if (!known || !areas || *srcLen < 0 || *dstLen < 0) {
    *srcLen = 0;
    *dstLen = 0;
    return B_BAD_VALUE;
  }
  if (state != nullptr) *state = 0;
  // iconv wants a real output area even when it has no room.
  if (*srcLen == 0 || *dstLen == 0) {
    *srcLen = 0;
    *dstLen = 0;
    return B_OK;
  }
  Input in{src, static_cast<std::size_t>(*srcLen)};
  Output out{dst, static_cast<std::size_t>(*dstLen)};
  status_t status = B_OK;
  if (srcEncoding == WYKE_UTF8_CONVERSION)
    check_utf8(in, out, substitute);
  else
    status = convert_with_iconv(srcEncoding, in, out, substitute);
  *srcLen = static_cast<int32>(in.next - src);
  *dstLen = static_cast<int32>(out.next - dst);
  return status;
}
