# AddressSanitizer and UndefinedBehaviorSanitizer for every target.
set(RK_SANITIZER_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
add_compile_options(${RK_SANITIZER_FLAGS})
add_link_options(${RK_SANITIZER_FLAGS})
