// Code page 932 through the C library's converter.

#include <iconv.h>

#include <cerrno>

#include "base/ProfileFile.h"

namespace quorvel {

namespace {
constexpr char16_t kReplacement = 0xFFFD;
}  // namespace

Text DecodeCp932(std::string_view bytes) {
  iconv_t cd = iconv_open("UTF-16LE", "CP932");
  // iconv_open reports failure as (iconv_t)-1.
  if (cd == reinterpret_cast<iconv_t>(-1)) return FromUtf8(bytes);  // NOLINT(performance-no-int-to-ptr)

  Text out;
  out.reserve(bytes.size());
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char buf[512];
  auto flush = [&](const char* end) {
    for (const char* p = buf; p + 1 < end; p += 2) {
      out.push_back(static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                          (static_cast<unsigned char>(p[1]) << 8)));
    }
  };
  while (inLeft > 0) {
    char* o = buf;
    size_t outLeft = sizeof buf;
    const size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    const int error = errno;
    flush(o);
    if (r != static_cast<size_t>(-1)) break;
    if (error == E2BIG) continue;
    out.push_back(kReplacement);
    if (error == EILSEQ) {
      ++in;
      --inLeft;
    } else {
      break;  // EINVAL: incomplete sequence at the end
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace quorvel
