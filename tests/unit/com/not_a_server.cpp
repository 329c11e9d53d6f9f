// A library that is not a COM server: it has no DllGetClassObject.
extern "C" __attribute__((visibility("default"))) int NotAServer() {
  return 0;
}
