#include "OrbLook.h"

namespace vardelle::orblook {

std::array<QColor, 3> palette(Kind kind)
{
    auto rgb = [](float r, float g, float b) { return QColor::fromRgbF(r, g, b); };
    switch (kind) {
    case Kind::idle:
        return {rgb(0.1f, 0.65f, 0.95f), rgb(0.35f, 0.3f, 0.95f), rgb(0.05f, 0.85f, 0.8f)};
    case Kind::gathering:
        return {rgb(0.2f, 0.8f, 0.95f), rgb(0.1f, 0.55f, 1.0f), rgb(0.55f, 0.35f, 1.0f)};
    case Kind::speaking:
        return {rgb(0.1f, 0.9f, 0.65f), rgb(0.2f, 0.75f, 1.0f), rgb(0.55f, 0.95f, 0.45f)};
    case Kind::failed:
        return {rgb(1.0f, 0.35f, 0.3f), rgb(0.95f, 0.55f, 0.2f), rgb(0.8f, 0.2f, 0.35f)};
    }
    return palette(Kind::idle);
}

double speed(Kind kind)
{
    switch (kind) {
    case Kind::idle:
        return 0.3;
    case Kind::gathering:
        return 1.1;
    case Kind::speaking:
        return 1.3;
    case Kind::failed:
        return 0.2;
    }
    return 0.3;
}

} // namespace vardelle::orblook
