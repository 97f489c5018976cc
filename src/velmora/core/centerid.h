// A center's ID held as a number and the zeros written before it, so that a
// row of a list keeps no text of its own; text() gives back exactly what was
// read ("0042" stays "0042", "-0" stays "-0").
#pragma once

#include <QHashFunctions>
#include <QLatin1StringView>
#include <QString>
#include <QStringView>

namespace VelmoraInternal {

class CenterId
{
public:
    // The most UTF-16 units text() can have: a '-' and eighteen digits.
    static constexpr int MaxUnits = 19;

    CenterId() = default;
    // Invalid unless text passes isDecimalWholeNumber().
    static CenterId fromText(QStringView text);
    static CenterId fromText(QLatin1StringView text);

    bool isValid() const { return m_valid; }
    QString text() const;
    // Writes text() to out, which has room for MaxUnits, and returns its
    // length.
    qsizetype write(char16_t *out) const;

    // Equal IDs have equal texts and the other way round.
    friend bool operator==(const CenterId &a, const CenterId &b) = default;
    friend size_t qHash(const CenterId &id, size_t seed = 0) noexcept
    {
        return qHashMulti(seed, id.m_magnitude, id.m_zeros, id.m_negative, id.m_valid);
    }

private:
    template<typename View>
    static CenterId parse(View text);

    quint64 m_magnitude = 0;
    quint8 m_zeros = 0; // written before the magnitude's digits
    bool m_negative = false;
    bool m_valid = false;
};

} // namespace VelmoraInternal
