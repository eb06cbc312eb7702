// The unit behind the test suites' shared precompiled header
// (bcn_add_test_headers in BcnTargets.cmake); it has no code of its own.
