// Which centers of a load one step of the history concerns, by their
// numbers in the load's pool (CenterPool): as runs of consecutive numbers
// while that is the smaller, one bit per loaded center otherwise. So no set
// takes more than an eighth of a byte per loaded center however many
// centers it holds, and a move of a whole list, whose numbers run on, a few
// bytes.
#pragma once

#include <QtGlobal>

#include <utility>
#include <vector>

namespace VelmoraInternal {

class CenterSet
{
public:
    CenterSet() = default;
    // numbers: each below loaded (how many centers the load had), in any
    // order, each once.
    CenterSet(const std::vector<quint32> &numbers, quint32 loaded);

    bool contains(quint32 number) const;
    qsizetype size() const { return m_size; }
    // The bytes its numbers take.
    size_t bytes() const;

private:
    std::vector<std::pair<quint32, quint32>> m_runs; // first and last number
    std::vector<quint64> m_bits;
    qsizetype m_size = 0;
};

} // namespace VelmoraInternal
