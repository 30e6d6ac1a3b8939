// Seeded random Jack classes that jack2xml accepts: every statement and term
// form, documentation and ordinary comments, odd layout.
#ifndef TESTS_TOOLS_XML2JACK_RANDOM_JACK_H
#define TESTS_TOOLS_XML2JACK_RANDOM_JACK_H

#include <random>
#include <string>

namespace test_support
{
    std::string random_jack_class(std::mt19937 &rng, int number);
}

#endif
