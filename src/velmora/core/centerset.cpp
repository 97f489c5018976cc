#include "core/centerset.h"

#include <algorithm>

namespace VelmoraInternal {

CenterSet::CenterSet(const std::vector<quint32> &numbers, quint32 loaded)
    : m_size(qsizetype(numbers.size()))
{
    const size_t words = (size_t(loaded) + 63) / 64;
    if (numbers.size() * sizeof(quint32) <= words * sizeof(quint64)) {
        m_numbers = numbers;
        return;
    }
    m_bits.assign(words, 0);
    for (quint32 number : numbers)
        m_bits[number / 64] |= quint64(1) << (number % 64);
}

bool CenterSet::contains(quint32 number) const
{
    if (m_bits.empty())
        return std::binary_search(m_numbers.begin(), m_numbers.end(), number);
    return number / 64 < m_bits.size() && (m_bits[number / 64] >> (number % 64) & 1) != 0;
}

size_t CenterSet::bytes() const
{
    return m_numbers.capacity() * sizeof(quint32) + m_bits.capacity() * sizeof(quint64);
}

} // namespace VelmoraInternal
