// Shared by the projection tests: parameter records and reference values from PROJ's own tools.
#ifndef TAVIRON_TESTS_PROJECTION_REFERENCE_H
#define TAVIRON_TESTS_PROJECTION_REFERENCE_H

#include <proj.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "taviron_testing.h"
#include "eprj.h"

namespace projection_test {

using Point = std::pair<double, double>;

inline const double kPi = std::acos(-1.0);

inline double Radians(double degrees) { return degrees * kPi / 180; }

// A numbered projection's record: parameters given in degrees for the angles (indexes from 0 as
// in the record), spheroid and datum by name (empty: none).
inline Eprj_ProParameters *Parameters(int32_t number, int32_t zone,
                                      std::initializer_list<std::pair<int, double>> values,
                                      const char *spheroid = "WGS 84",
                                      const char *datum = nullptr) {
  Eprj_ProParameters *p = eprj_ProParametersCreate(nullptr);
  p->proType = EPRJ_INTERNAL;
  p->proNumber = number;
  p->proZone = zone;
  eprj_ProjName(nullptr, number, &p->proName, nullptr);
  eprj_DblArrayCreate(15, &p->proParams, nullptr);
  for (auto [index, value] : values) p->proParams.data[index] = value;
  if (spheroid && *spheroid) eprj_SpheroidByName(nullptr, spheroid, &p->proSpheroid, nullptr);
  if (datum && *datum) eprj_DatumByName(nullptr, spheroid, datum, &p->proSpheroid.datum, nullptr);
  return p;
}

// The angles of a record given in degrees.
inline std::pair<int, double> Angle(int index, double degrees) { return {index, Radians(degrees)}; }

inline bool HaveCs2cs() { return access("/usr/bin/cs2cs", X_OK) == 0; }

// Reprojects the points with cs2cs (when /usr/bin/cs2cs exists) or else with PROJ's API
// (proj_create_crs_to_crs, which cs2cs uses too); `how` names the source used.
inline std::vector<Point> Reference(const std::string &from, const std::string &to,
                                    const std::vector<Point> &points, std::string &how) {
  std::vector<Point> out;
  if (HaveCs2cs()) {
    how = "cs2cs";
    std::string name = (taviron::testing::TempRoot() / "projection_reference_XXXXXX").string();
    const int fd = mkstemp(name.data());
    if (fd < 0) return out;
    close(fd);
    {
      std::ofstream file(name);
      file.precision(17);
      for (auto [x, y] : points) file << x << ' ' << y << '\n';
    }
    const std::string command =
        "/usr/bin/cs2cs -f %.15f " + from + " +to " + to + " " + name + " 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe) {
      char line[512];
      while (std::fgets(line, sizeof line, pipe)) {
        std::istringstream fields(line);
        std::string a, b;
        fields >> a >> b;
        out.emplace_back(a == "*" ? NAN : std::strtod(a.c_str(), nullptr),
                         b == "*" ? NAN : std::strtod(b.c_str(), nullptr));
      }
      pclose(pipe);
    }
    std::remove(name.c_str());
    return out;
  }
  how = "PROJ API";
  PJ_CONTEXT *context = proj_context_create();
  PJ *raw = proj_create_crs_to_crs(context, (from + " +type=crs").c_str(),
                                   (to + " +type=crs").c_str(), nullptr);
  PJ *operation = raw ? proj_normalize_for_visualization(context, raw) : nullptr;
  proj_destroy(raw);
  for (auto [x, y] : points) {
    PJ_COORD c = proj_trans(operation, PJ_FWD, proj_coord(x, y, 0, 0));
    out.emplace_back(c.xy.x, c.xy.y);
  }
  proj_destroy(operation);
  proj_context_destroy(context);
  return out;
}

// Meters between two points, of a projected system or (geographic) in degrees.
inline double Meters(const Point &a, const Point &b, bool geographic) {
  if (!geographic) return std::hypot(a.first - b.first, a.second - b.second);
  const double perDegree = 111320.0;
  return std::hypot((a.first - b.first) * perDegree * std::cos(Radians(a.second)),
                    (a.second - b.second) * perDegree);
}

} // namespace projection_test

#endif
