// The FLAC head reader and the Vorbis comment reader on arbitrary bytes: the bytes are a whole
// file. Whatever they hold, reading must end without a fault, a head must state a sample rate,
// and the fields must keep the model's bounds.
#include "audio/FlacHead.h"
#include "audio/TagReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::optional<FlacHead> head = FlacHead::ReadBytes(data, size);
    const std::string comment = head ? head->comment : std::string(reinterpret_cast<const char*>(data), size);
    Check(!head || head->sampleRate != 0);
    const TagSet fields = TagReader::FieldsOfComment(comment);
    for (const TagSet::Field& field : fields.Fields()) {
        Check(!field.key.empty() && !field.values.empty());
        for (const std::string& value : field.values)
            Check(!value.empty() && value.size() <= TagSet::kLargestValue);
    }
    Check(fields.Pictures().empty());
    return 0;
}
