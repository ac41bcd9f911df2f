// libFuzzer target for the scene file readers. Built twice, with LUMIVEX_FUZZ_XML set to 1 (the
// XML reader) or 0 (the line format), by tools/fuzz.sh. Every input must either load, giving a
// picture size within range, or fail and leave the scene exactly as it was.
#include <QBuffer>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "serial/binserial.h"
#include "serial/xmlserial.h"

namespace {

bool sameBytes(const Scene& a, const Scene& b)
{
    // Scene is plain data without padding holes that matter here: every member is a float or int.
    return std::memcmp(&a, &b, sizeof(Scene)) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Read from memory: no file per input, so many more inputs a second.
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer device;
    device.setData(bytes);
    if (!device.open(QIODevice::ReadOnly))
        std::abort();
    Scene scene = Scene::builtIn();
    const Scene before = scene;
#if LUMIVEX_FUZZ_XML
    XMLL reader;
#else
    BinL reader;
#endif
    if (loadScene(reader, device, scene)) {
        if (scene.Wid < kMinPictureSide || scene.Wid > kMaxPictureSide || scene.Hey < kMinPictureSide ||
            scene.Hey > kMaxPictureSide)
            std::abort();
    } else if (!sameBytes(scene, before)) {
        std::abort();
    }
    if (reader.File != nullptr)
        std::abort();
    return 0;
}
