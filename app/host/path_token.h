#pragma once
// The path token: 32 lower-case hex characters from 16 random bytes, made once per run
// and never stored. 0, or -1 when the system's random source failed.
int make_path_token(char out[33]);
