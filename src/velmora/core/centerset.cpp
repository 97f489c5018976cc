#include "core/centerset.h"

#include <algorithm>

namespace VelmoraInternal {

CenterSet::CenterSet(const std::vector<quint32> &serials, quint32 loaded)
    : m_size(qsizetype(serials.size()))
{
    const size_t words = (size_t(loaded) + 63) / 64;
    if (serials.size() * sizeof(quint32) <= words * sizeof(quint64)) {
        m_serials = serials;
        return;
    }
    m_bits.assign(words, 0);
    for (quint32 serial : serials)
        m_bits[serial / 64] |= quint64(1) << (serial % 64);
}

bool CenterSet::contains(quint32 serial) const
{
    if (m_bits.empty())
        return std::binary_search(m_serials.begin(), m_serials.end(), serial);
    return serial / 64 < m_bits.size() && (m_bits[serial / 64] >> (serial % 64) & 1) != 0;
}

size_t CenterSet::bytes() const
{
    return m_serials.capacity() * sizeof(quint32) + m_bits.capacity() * sizeof(quint64);
}

} // namespace VelmoraInternal
