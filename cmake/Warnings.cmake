# Warnings are on for everything this project compiles and are kept at zero.
add_compile_options(-Wall -Wextra)
