// The active centers as the center document shows them, read from the
// database once and kept between requests: every center's record already
// written as document text (its ID, its escaped name), and the same text
// compressed in pieces. A document for any employee is put together from it
// and the employee's assignments, which are read per request, without
// reading, escaping or compressing the centers again.
//
// A catalogue belongs to one version of the table "Center": the database
// counts every change of the table (a trigger keeps the count), and a
// catalogue is used only for the version it was read at.
#pragma once

#include "page/gzipwriter.h"
#include "store/centerstore.h"

#include <QByteArray>
#include <QList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace VelmoraServerCore {

class CenterCatalogue
{
public:
    // Records per compressed piece (about 11 kB of text): an assigned
    // center makes its piece and the next be compressed again for each
    // answer, so pieces are small.
    static constexpr int PieceRecords = 128;

    // centers: the active ones in ascending ID order.
    CenterCatalogue(qint64 version, const QList<Center> &centers);

    qint64 version() const { return m_version; }
    qsizetype size() const { return m_ids.size(); }

    // The document of an employee who holds assigned (ascending IDs; those
    // of no active center are left out), byte for byte what
    // DocumentWriter::write gives for the same lists.
    QByteArray document(const QList<qint32> &assigned) const;
    // The same document as one gzip member.
    QByteArray gzipDocument(const QList<qint32> &assigned) const;

private:
    // The positions of the assigned centers in the catalogue, ascending.
    QList<qsizetype> positions(const QList<qint32> &assigned) const;
    QByteArrayView records(qsizetype first, qsizetype end) const;
    QByteArrayView piece(qsizetype index) const;

    qint64 m_version;
    QList<qint32> m_ids;
    QList<qsizetype> m_offsets; // record i is m_text[m_offsets[i], m_offsets[i + 1])
    QByteArray m_text;
    QList<DeflatedPiece> m_pieces; // records [k * PieceRecords, (k + 1) * PieceRecords)
};

// The catalogue that the workers of one server share: one at a time, the
// latest one built. Thread-safe.
class CatalogueCache
{
public:
    // The catalogue of version, if it is the one kept.
    std::shared_ptr<const CenterCatalogue> find(qint64 version) const;
    // The catalogue of version: the one kept, or else the one build() makes,
    // which is kept from then on. One worker builds at a time; the others
    // wait for it, as they would need the same catalogue. Without a version
    // nothing tells when the centers change: what build() makes then serves
    // its request only.
    std::shared_ptr<const CenterCatalogue>
    obtain(std::optional<qint64> version, const std::function<std::shared_ptr<const CenterCatalogue>()> &build);
    // How many catalogues were built for this cache: how often the centers
    // were read and written out again.
    int builds() const { return m_builds.load(); }

private:
    mutable std::mutex m_mutex;
    std::mutex m_building;
    std::shared_ptr<const CenterCatalogue> m_kept;
    std::atomic<int> m_builds{0};
};

// One request's look into the cache, as the store asks for it while it
// reads the request's document: the catalogue found or built is the one the
// answer is made from.
class CatalogueLookup final : public CenterStore::CatalogueKeeper
{
public:
    explicit CatalogueLookup(CatalogueCache &cache) : m_cache(cache) {}

    bool holds(qint64 version) override;
    bool obtain(std::optional<qint64> version, const std::function<bool(QList<Center> *)> &read) override;

    const std::shared_ptr<const CenterCatalogue> &catalogue() const { return m_found; }

private:
    CatalogueCache &m_cache;
    std::shared_ptr<const CenterCatalogue> m_found;
};

} // namespace VelmoraServerCore
