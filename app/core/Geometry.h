#pragma once

#include <cmath>
#include <limits>

// Plain point, size and rectangle values with the window system's rectangle rules: half-open
// containment, a distinct null rectangle for empty intersections, and area 0 for null or
// infinite rectangles.
namespace zorvane {

struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    double width = 0;
    double height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    Point origin;
    Size size;

    constexpr Rect() = default;
    constexpr Rect(double x, double y, double width, double height) : origin {x, y}, size {width, height} {}

    // The null rectangle: what disjoint rectangles intersect in. Distinct from any zero-size one.
    static constexpr Rect null()
    {
        constexpr double inf = std::numeric_limits<double>::infinity();
        return Rect(inf, inf, 0, 0);
    }
    // The rectangle covering the whole plane.
    static constexpr Rect infinite()
    {
        constexpr double big = std::numeric_limits<double>::max() / 2;
        return Rect(-big / 2, -big / 2, big, big);
    }

    bool isNull() const { return std::isinf(origin.x) && origin.x > 0 && std::isinf(origin.y) && origin.y > 0; }
    bool isInfinite() const { return *this == infinite(); }
    // Null, or without area.
    bool isEmpty() const { return isNull() || size.width == 0 || size.height == 0; }

    // Negative sizes count as extending towards smaller coordinates.
    double minX() const { return size.width < 0 ? origin.x + size.width : origin.x; }
    double maxX() const { return size.width < 0 ? origin.x : origin.x + size.width; }
    double minY() const { return size.height < 0 ? origin.y + size.height : origin.y; }
    double maxY() const { return size.height < 0 ? origin.y : origin.y + size.height; }
    double midX() const { return (minX() + maxX()) / 2; }
    double midY() const { return (minY() + maxY()) / 2; }
    double width() const { return std::fabs(size.width); }
    double height() const { return std::fabs(size.height); }

    Rect standardized() const
    {
        if (isNull()) return *this;
        return Rect(minX(), minY(), width(), height());
    }

    // minX ≤ x < maxX and minY ≤ y < maxY.
    bool contains(Point p) const
    {
        if (isNull()) return false;
        return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
    }

    // The overlap of two rectangles, or the null rectangle when they do not overlap
    // (touching edges do not overlap).
    Rect intersection(const Rect& other) const
    {
        if (isNull() || other.isNull()) return null();
        const double x0 = std::fmax(minX(), other.minX());
        const double y0 = std::fmax(minY(), other.minY());
        const double x1 = std::fmin(maxX(), other.maxX());
        const double y1 = std::fmin(maxY(), other.maxY());
        if (x1 <= x0 || y1 <= y0) return null();
        return Rect(x0, y0, x1 - x0, y1 - y0);
    }

    bool intersects(const Rect& other) const { return !intersection(other).isNull(); }

    // Grown by dx, dy on every side (shrunk when negative); null when nothing is left.
    Rect insetBy(double dx, double dy) const
    {
        if (isNull()) return null();
        Rect r = standardized();
        r.origin.x += dx;
        r.origin.y += dy;
        r.size.width -= 2 * dx;
        r.size.height -= 2 * dy;
        if (r.size.width < 0 || r.size.height < 0) return null();
        return r;
    }

    // max(width, 0) × max(height, 0) of the standardized rectangle; 0 for null or infinite.
    double area() const
    {
        if (isNull() || isInfinite()) return 0;
        return std::fmax(size.width, 0) * std::fmax(size.height, 0);
    }

    friend bool operator==(const Rect&, const Rect&) = default;
};

} // namespace zorvane
