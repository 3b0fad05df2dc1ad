# The fuzz targets (fuzz/<name>_fuzz.cpp, corpus in fuzz/corpus/<name>/) and
# the libraries each needs; shared by the fuzz build and the corpus replay.
set(KVT_FUZZ_TARGETS answer reg_file ini_file date_time controlla_campo lk_url)
set(KVT_FUZZ_LIBS_answer kvt_app)
set(KVT_FUZZ_LIBS_reg_file kvt_common)
set(KVT_FUZZ_LIBS_ini_file kvt_common)
set(KVT_FUZZ_LIBS_date_time kvt_common)
set(KVT_FUZZ_LIBS_controlla_campo kvt_record)
set(KVT_FUZZ_LIBS_lk_url lk_connector)
# The DOCTYPE scan and DTD check, the DOM's parser, the date pictures' walk
# and the dry-run report's escapers.
list(APPEND KVT_FUZZ_TARGETS validazione_dtd xml_document formato_data protezione_rapporto)
set(KVT_FUZZ_LIBS_validazione_dtd kvt_common)
set(KVT_FUZZ_LIBS_xml_document kvt_common)
set(KVT_FUZZ_LIBS_formato_data kvt_common)
set(KVT_FUZZ_LIBS_protezione_rapporto kvt_app)
