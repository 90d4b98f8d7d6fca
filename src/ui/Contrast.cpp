#include "ui/Contrast.h"

#include <QtMath>

namespace {

double luminance(const QColor& c) {
    const auto linear = [](double v) {
        return v <= 0.04045 ? v / 12.92 : qPow((v + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = c.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) +
           0.0722 * linear(rgb.blueF());
}

QColor mixed(const QColor& from, const QColor& to, double share) {
    const auto mix = [share](int a, int b) { return qRound(a + (b - a) * share); };
    const QColor f = from.toRgb(), t = to.toRgb();
    return QColor(mix(f.red(), t.red()), mix(f.green(), t.green()), mix(f.blue(), t.blue()));
}

} // namespace

double contrastRatio(const QColor& a, const QColor& b) {
    const double x = luminance(a), y = luminance(b);
    return (qMax(x, y) + 0.05) / (qMin(x, y) + 0.05);
}

QColor legibleOn(const QColor& colour, const QColor& background, double minimum) {
    if (contrastRatio(colour, background) >= minimum)
        return colour;
    const QColor white(Qt::white), black(Qt::black);
    const QColor toward =
        contrastRatio(white, background) >= contrastRatio(black, background) ? white : black;
    for (int step = 1; step < 20; ++step) {
        const QColor c = mixed(colour, toward, step / 20.0);
        if (contrastRatio(c, background) >= minimum)
            return c;
    }
    return toward;
}
