# varn_write_desktop_entry(TEMPLATE OUTPUT GAME_DIR): fills the launcher's
# desktop entry for a game directory. Used at configure time (build/bin) and
# at install time (the prefix, known only then), so it must run in script
# mode too.
function(varn_write_desktop_entry template output game_dir)
  get_filename_component(game_dir "${game_dir}" ABSOLUTE)
  # Plain values (Path, Icon) escape backslashes.
  string(REPLACE "\\" "\\\\" VARN_GAME_DIR "${game_dir}")
  # The program path in Exec is quoted: inside the quotes ", `, $ and \
  # take a backslash, which the value's own escaping doubles; % starts a
  # field code.
  set(exec "${game_dir}")
  foreach(c "\\" "\"" "`" "$")
    string(REPLACE "${c}" "\\${c}" exec "${exec}")
  endforeach()
  string(REPLACE "\\" "\\\\" exec "${exec}")
  string(REPLACE "%" "%%" VARN_EXEC_DIR "${exec}")
  configure_file("${template}" "${output}" @ONLY)
endfunction()
