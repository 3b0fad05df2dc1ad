# Shared by the peers' tests: the installed document type the collector checks
# requests against, a full upload valid against it, and the programs.
set(KVT_PEER_TEST_DEFINITIONS
    KVT_TEST_REQUEST_DTD_DIR="${PROJECT_SOURCE_DIR}/dist/kvt/dtd"
    KVT_TEST_GOOD_UPLOAD="${PROJECT_SOURCE_DIR}/tests/collector/fixtures/upload_full.xml"
    KVT_TEST_ANSWER_DTD_DIR="${PROJECT_SOURCE_DIR}/dist/kvt/dtd"
    KVT_TEST_COLLECTOR="$<TARGET_FILE:kvt-collector>"
    KVT_TEST_LKLIB="$<TARGET_FILE:LKlib>"
    KVT_TEST_DTD_SAMPLES="${PROJECT_SOURCE_DIR}/tests/dtd/samples")
