// The owner of the test programs' shared precompiled header (kestrova_use_test_pch in
// cmake/KestrovaTests.cmake): a test program of its own with no cases, built so that the header
// exists before the others compile against it.
