// A DLL that only the test's own folder holds, standing for one an attacker
// drops beside the program.
extern "C" __declspec(dllexport) int plantedProbe() {
    return 42;
}
