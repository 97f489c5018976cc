#include "page/centercatalogue.h"

#include "page/documentwriter.h"

#include <algorithm>

namespace VelmoraServerCore {

CenterCatalogue::CenterCatalogue(qint64 version, const QList<Center> &centers) : m_version(version)
{
    m_ids.reserve(centers.size());
    m_offsets.reserve(centers.size() + 1);
    m_text.reserve(centers.size() * 64);
    for (const Center &center : centers) {
        m_ids.append(center.id);
        m_offsets.append(m_text.size());
        DocumentWriter::appendRecord(m_text, center);
    }
    m_offsets.append(m_text.size());
    m_text.squeeze();
    // Each piece refers back into the one before it: it is copied only
    // behind that piece, whole.
    for (qsizetype first = 0; first < size(); first += PieceRecords) {
        const QByteArrayView before = first == 0 ? QByteArrayView() : records(first - PieceRecords, first);
        m_pieces.append(GzipWriter::deflate(piece(first / PieceRecords), GzipWriter::CachedLevel, before));
    }
}

QByteArrayView CenterCatalogue::piece(qsizetype index) const
{
    return records(index * PieceRecords, std::min(size(), (index + 1) * PieceRecords));
}

QByteArrayView CenterCatalogue::records(qsizetype first, qsizetype end) const
{
    return QByteArrayView(m_text).sliced(m_offsets[first], m_offsets[end] - m_offsets[first]);
}

QList<qsizetype> CenterCatalogue::positions(const QList<qint32> &assigned) const
{
    QList<qsizetype> result;
    auto from = m_ids.cbegin();
    for (qint32 id : assigned) {
        from = std::lower_bound(from, m_ids.cend(), id);
        if (from == m_ids.cend())
            break;
        if (*from == id)
            result.append(from - m_ids.cbegin());
    }
    return result;
}

QByteArray CenterCatalogue::document(const QList<qint32> &assigned) const
{
    const QList<qsizetype> chosen = positions(assigned);
    QByteArray out = DocumentWriter::head(size() - chosen.size(), chosen.size());
    out.reserve(out.size() + m_text.size() + 64);
    qsizetype from = 0;
    for (qsizetype position : chosen) {
        out += records(from, position);
        from = position + 1;
    }
    out += records(from, size());
    out += DocumentWriter::middle();
    for (qsizetype position : chosen)
        out += records(position, position + 1);
    out += DocumentWriter::tail();
    return out;
}

QByteArray CenterCatalogue::gzipDocument(const QList<qint32> &assigned) const
{
    const QList<qsizetype> chosen = positions(assigned);
    GzipWriter gzip;
    // Text compressed for this answer alone, gathered until a kept piece
    // follows, so that neighbouring parts are compressed together.
    QByteArray fresh = DocumentWriter::head(size() - chosen.size(), chosen.size());
    auto next = chosen.cbegin();
    bool previousWhole = false;
    for (qsizetype index = 0; index < m_pieces.size(); ++index) {
        const qsizetype first = index * PieceRecords;
        const qsizetype end = std::min(size(), first + PieceRecords);
        const bool whole = next == chosen.cend() || *next >= end;
        const bool copied = whole && (index == 0 || previousWhole);
        previousWhole = whole;
        if (copied) {
            gzip.append(fresh);
            fresh.clear();
            gzip.append(m_pieces[index], piece(index));
            continue;
        }
        // A piece that holds assigned centers is written again without
        // them, and so is the one after it, which refers back into it.
        qsizetype from = first;
        for (; next != chosen.cend() && *next < end; ++next) {
            fresh += records(from, *next);
            from = *next + 1;
        }
        fresh += records(from, end);
    }
    fresh += DocumentWriter::middle();
    for (qsizetype position : chosen)
        fresh += records(position, position + 1);
    fresh += DocumentWriter::tail();
    gzip.append(fresh);
    return gzip.finish();
}

std::shared_ptr<const CenterCatalogue> CatalogueCache::find(qint64 version) const
{
    std::lock_guard lock(m_mutex);
    return m_kept && m_kept->version() == version ? m_kept : nullptr;
}

std::shared_ptr<const CenterCatalogue>
CatalogueCache::obtain(std::optional<qint64> version,
                       const std::function<std::shared_ptr<const CenterCatalogue>()> &build)
{
    std::lock_guard building(m_building);
    if (auto kept = version ? find(*version) : nullptr)
        return kept;
    std::shared_ptr<const CenterCatalogue> built = build();
    if (!built)
        return nullptr;
    ++m_builds;
    if (!version)
        return built;
    // The latest one built is kept, whether its version is higher or lower
    // (a database restored from a backup counts from its own number again).
    std::lock_guard lock(m_mutex);
    m_kept = built;
    return built;
}

bool CatalogueLookup::holds(qint64 version)
{
    m_found = m_cache.find(version);
    return m_found != nullptr;
}

bool CatalogueLookup::obtain(std::optional<qint64> version, const std::function<bool(QList<Center> *)> &read)
{
    m_found = m_cache.obtain(version, [&]() -> std::shared_ptr<const CenterCatalogue> {
        QList<Center> centers;
        if (!read(&centers))
            return nullptr;
        return std::make_shared<const CenterCatalogue>(version.value_or(-1), centers);
    });
    return m_found != nullptr;
}

} // namespace VelmoraServerCore
