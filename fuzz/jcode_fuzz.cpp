// Japanese code detection and conversion over arbitrary bytes.
#include "text/jconvert.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnhold;
    std::string_view text(reinterpret_cast<const char*>(data), size);

    const int code = InCodeCheck(text);
    if (code < jcAscii || code > jcEucOrSjis)
        std::abort();
    // The conversions never grow the text: escapes vanish, pairs stay pairs.
    if (jis2sjis(text).size() > size || euc2sjis(text).size() > size)
        std::abort();
    const std::string sjis = ConvertJCode(text, jcSjis);
    if ((code == jcAscii || code == jcBinary || code == jcEucOrSjis || code == jcSjis) &&
        sjis != text)
        std::abort();
    (void)ConvertJCode(text, jcEuc);
    if (size >= 2)
        (void)ToSjis(data[0], data[1]);
    return 0;
}
