// A shared library that is no package: it exports neither entry.
extern "C" __attribute__((visibility("default"))) int an_unrelated_function() {
  return 42;
}
