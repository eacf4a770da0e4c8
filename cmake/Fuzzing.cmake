# Coverage for libFuzzer on all code, with ASan and UBSan; the fuzz targets themselves link
# -fsanitize=fuzzer, which brings libFuzzer's main.
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                    -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
