#include "testHost.h"

#include <fstream>
#include <iterator>

std::string ownProgramImage()
{
    std::ifstream file(ownProgramPath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}
