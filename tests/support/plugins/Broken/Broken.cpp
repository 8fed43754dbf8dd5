// Test-only module that loads but exports no factory functions.
extern "C" __attribute__((visibility("default"))) int brokenModuleMarker() { return 1; }
