#pragma once

#include <cstddef>
#include <cstdint>

// One entry of the table that the build generates from the resource list in
// res/resources.cmake (the bytes are assembled into the program with .incbin).
struct ResourceEntry {
    uint32_t id;
    const char* type;
    const uint8_t* begin;
    const uint8_t* end;
};

extern const ResourceEntry GENERATED_RESOURCES[];
extern const size_t GENERATED_RESOURCE_COUNT;
