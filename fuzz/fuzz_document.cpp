// The control's reader of the center document on any bytes a server might
// send. Properties (besides no crash, no hang and bounded memory, which
// libFuzzer watches with -timeout, -rss_limit_mb and -malloc_limit_mb):
//   - a read that succeeds read both counts and both lists, every ID is a
//     plain decimal whole number (IDs go into SQL later) and there are at
//     most 32,767 records;
//   - a read that fails gives a reason and keeps only what a load fills
//     before the failure: no records before the counts, no assigned centers
//     before the unassigned list was complete.
#include "fuzzcheck.h"

#include "core/centerkey.h"
#include "core/centerdocument.h"

namespace VelmoraFuzz {

int centerDocument(const std::uint8_t *data, std::size_t size)
{
    using namespace VelmoraInternal;
    const QByteArray body = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    CenterDocument document;
    QString error;
    const bool read = CenterDocumentReader::read(body, &document, &error);

    const std::size_t records = document.nonSelected.size() + document.selected.size();
    VELMORA_FUZZ_CHECK(records <= std::size_t(CenterDocumentReader::MaxRecords) + 1,
                       "more records kept than the record counter allows");
    for (const auto *list : {&document.nonSelected, &document.selected}) {
        for (const CenterRecord &record : *list)
            VELMORA_FUZZ_CHECK(isDecimalWholeNumber(record.id), "a record with an ID that is not a whole number");
    }
    if (read) {
        VELMORA_FUZZ_CHECK(error.isEmpty(), "a successful read with a reason");
        VELMORA_FUZZ_CHECK(records <= std::size_t(CenterDocumentReader::MaxRecords),
                           "a successful read with more than 32,767 records");
        VELMORA_FUZZ_CHECK(int(document.nonSelectedCount) + int(document.selectedCount) <= 32767,
                           "counts that add up to more than 32,767");
        return 0;
    }
    VELMORA_FUZZ_CHECK(!error.isEmpty(), "a failed read without a reason");
    return 0;
}

} // namespace VelmoraFuzz

VELMORA_FUZZ_ENTRY(centerDocument)
