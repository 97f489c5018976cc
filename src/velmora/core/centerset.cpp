#include "core/centerset.h"

#include <QtAlgorithms>

#include <algorithm>

namespace VelmoraInternal {

CenterSet::CenterSet(const std::vector<quint32> &numbers, quint32 loaded)
    : m_size(qsizetype(numbers.size()))
{
    // One bit per loaded center first, in any order; kept as runs when they
    // take less.
    const size_t words = (size_t(loaded) + 63) / 64;
    m_bits.assign(words, 0);
    for (quint32 number : numbers)
        m_bits[number / 64] |= quint64(1) << (number % 64);
    size_t runs = 0;
    for (size_t w = 0; w < words; ++w) {
        // A run starts at every set bit whose lower neighbour is clear.
        const quint64 below = m_bits[w] << 1 | (w > 0 ? m_bits[w - 1] >> 63 : 0);
        runs += size_t(qPopulationCount(m_bits[w] & ~below));
    }
    if (runs * sizeof(m_runs[0]) > words * sizeof(quint64))
        return;
    m_runs.reserve(runs);
    for (size_t w = 0; w < words; ++w) {
        for (quint64 bits = m_bits[w]; bits != 0; bits &= bits - 1) {
            const quint32 number = quint32(w * 64 + qCountTrailingZeroBits(bits));
            if (!m_runs.empty() && m_runs.back().second + 1 == number)
                m_runs.back().second = number;
            else
                m_runs.emplace_back(number, number);
        }
    }
    std::vector<quint64>().swap(m_bits);
}

bool CenterSet::contains(quint32 number) const
{
    if (!m_bits.empty())
        return number / 64 < m_bits.size() && (m_bits[number / 64] >> (number % 64) & 1) != 0;
    // The first run that ends at or after the number.
    const auto run = std::lower_bound(m_runs.begin(), m_runs.end(), number,
                                      [](const std::pair<quint32, quint32> &r, quint32 n) { return r.second < n; });
    return run != m_runs.end() && run->first <= number;
}

size_t CenterSet::bytes() const
{
    return m_runs.capacity() * sizeof(m_runs[0]) + m_bits.capacity() * sizeof(quint64);
}

} // namespace VelmoraInternal
