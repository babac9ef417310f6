// Small vector type for the weekend ray tracer.
#include <cmath>
#include <iostream>

struct Vec3 {
    double x = 0, y = 0, z = 0;
    Vec3 operator+(const Vec3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    Vec3 operator-(const Vec3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    Vec3 operator*(double t) const { return {x * t, y * t, z * t}; }
    double dot(const Vec3& o) const { return x * o.x + y * o.y + z * o.z; }
    double length() const { return std::sqrt(dot(*this)); }
    Vec3 unit() const { return *this * (1.0 / length()); }
};

// Distance along the ray to the sphere, or a negative number for a miss.
double hit_sphere(const Vec3& center, double radius, const Vec3& origin, const Vec3& dir) {
    const Vec3 oc = origin - center;
    const double a = dir.dot(dir);
    const double b = 2.0 * oc.dot(dir);
    const double c = oc.dot(oc) - radius * radius;
    const double disc = b * b - 4 * a * c;
    return disc < 0 ? -1.0 : (-b - std::sqrt(disc)) / (2.0 * a);
}

int main() {
    std::cout << hit_sphere({0, 0, -1}, 0.5, {0, 0, 0}, {0, 0, -1}) << "\n";
}
