// velmar-make-demo FILE: writes the demo image that ships with the tool ("demo_trk.bin"), made
// from the records of the simulator's default controller.
#include "data/demo_image.h"
#include "data/memory_store.h"
#include "sim/core/bus_simulator.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Использование: velmar-make-demo ФАЙЛ\n");
        return 2;
    }
    auto c = velmar::sim::Controller::MakeDefault(1);
    velmar::MemoryRecordStore store(c->Space(0));
    std::string error;
    if (velmar::SaveDemoImage(store, argv[1], &error) != velmar::DemoBuildResult::Built) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 3;
    }
    return 0;
}
