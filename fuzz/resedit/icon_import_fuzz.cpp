// Fuzzes the icon file a user brings: the input is the .ico, imported into a small, fixed
// executable the way the build does it, then committed and read back.
#include "fuzz_inputs.h"
#include "icon_edit_round.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace nimbrel::fuzzinputs;
    static IconWorkspace work;
    static const std::string exe = MinimalPe(DibImage(16, 16, 4).bytes);
    IconWorkspace::Write(work.exe, reinterpret_cast<const std::uint8_t*>(exe.data()), exe.size());
    IconWorkspace::Write(work.ico, data, size);
    work.Run();
    return 0;
}
