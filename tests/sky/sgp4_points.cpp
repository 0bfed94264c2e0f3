// sky_sgp4_points FILE: the TEME states of the element sets of FILE (in file
// order, counted from 0) at the moments asked on standard input, one
// "SET MINUTES" a line; answers "x y z vx vy vz" (km, km/s) or "error REASON".
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "sky/Sgp4.h"

int main(int argc, char** argv) {
    using namespace tavrik;
    if (argc != 2) {
        std::fprintf(stderr, "usage: sky_sgp4_points FILE < requests\n");
        return 2;
    }
    std::ifstream in(argv[1]);
    std::stringstream text;
    text << in.rdbuf();
    const TleFile file = ParseTles(text.str());
    for (const std::string& e : file.errors)
        std::fprintf(stderr, "%s\n", e.c_str());
    std::vector<std::optional<Sgp4>> models;
    std::vector<std::string> refusals;
    for (const Tle& t : file.sets) {
        std::string why;
        models.push_back(Sgp4::Create(t, why));
        refusals.push_back(why);
    }
    std::size_t index = 0;
    double minutes = 0;
    while (std::cin >> index >> minutes) {
        std::array<double, 3> r, v;
        std::string why;
        if (index >= models.size())
            why = "no such set";
        else if (!models[index])
            why = refusals[index];
        else if (models[index]->Propagate(minutes, r, v, why)) {
            std::printf("%.9f %.9f %.9f %.12f %.12f %.12f\n", r[0], r[1], r[2], v[0], v[1], v[2]);
            continue;
        }
        std::printf("error %s\n", why.c_str());
    }
    return 0;
}
