# Shared by the peers' tests: the document type the collector checks requests
# against (the installed one when the tree has it, else a small stand-in kept
# with the tests), the good upload that goes with it, and the programs.
if(EXISTS ${PROJECT_SOURCE_DIR}/dist/kvt/dtd/RichiestaCaricamento.dtd)
    set(KVT_TEST_REQUEST_DTD_DIR ${PROJECT_SOURCE_DIR}/dist/kvt/dtd)
    set(KVT_TEST_GOOD_UPLOAD ${PROJECT_SOURCE_DIR}/tests/collector/fixtures/upload_full.xml)
else()
    set(KVT_TEST_REQUEST_DTD_DIR ${PROJECT_SOURCE_DIR}/tests/collector/fixtures)
    set(KVT_TEST_GOOD_UPLOAD ${PROJECT_SOURCE_DIR}/tests/collector/fixtures/upload_good.xml)
endif()
set(KVT_PEER_TEST_DEFINITIONS
    KVT_TEST_REQUEST_DTD_DIR="${KVT_TEST_REQUEST_DTD_DIR}"
    KVT_TEST_GOOD_UPLOAD="${KVT_TEST_GOOD_UPLOAD}"
    KVT_TEST_ANSWER_DTD_DIR="${PROJECT_SOURCE_DIR}/dist/kvt/dtd"
    KVT_TEST_COLLECTOR="$<TARGET_FILE:kvt-collector>"
    KVT_TEST_LKLIB="$<TARGET_FILE:LKlib>")
