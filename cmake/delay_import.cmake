# Delay-import libraries made from MinGW-w64's import libraries: the program then loads those
# DLLs on first use, after it has limited the DLL search to the system folder.
#
# dlltool's x86-64 delay-load thunk (binutils 2.40) saves the integer argument registers but not
# xmm0-xmm3, so the first call of any function with floating-point arguments (glClearColor,
# gluPerspective, ...) reaches the function with those arguments destroyed by the loader. Each
# library's thunk is therefore replaced by one that saves them too.

set(TOVREN_DELAY_THUNK_TEMPLATE [=[
# Resolves one delay-loaded import and jumps to it, keeping every argument register, integer and
# floating-point, intact across the loader.
    .text
    .globl  __tailMerge_@ID@
    .def    __tailMerge_@ID@; .scl 2; .type 32; .endef
    .seh_proc __tailMerge_@ID@
__tailMerge_@ID@:
    pushq   %rcx
    .seh_pushreg %rcx
    pushq   %rdx
    .seh_pushreg %rdx
    pushq   %r8
    .seh_pushreg %r8
    pushq   %r9
    .seh_pushreg %r9
    subq    $0x68, %rsp
    .seh_stackalloc 0x68
    movdqa  %xmm0, 0x20(%rsp)
    .seh_savexmm %xmm0, 0x20
    movdqa  %xmm1, 0x30(%rsp)
    .seh_savexmm %xmm1, 0x30
    movdqa  %xmm2, 0x40(%rsp)
    .seh_savexmm %xmm2, 0x40
    movdqa  %xmm3, 0x50(%rsp)
    .seh_savexmm %xmm3, 0x50
    .seh_endprologue
    movq    %rax, %rdx
    leaq    __DELAY_IMPORT_DESCRIPTOR_@ID@(%rip), %rcx
    call    __delayLoadHelper2
    movdqa  0x20(%rsp), %xmm0
    movdqa  0x30(%rsp), %xmm1
    movdqa  0x40(%rsp), %xmm2
    movdqa  0x50(%rsp), %xmm3
    addq    $0x68, %rsp
    popq    %r9
    popq    %r8
    popq    %rdx
    popq    %rcx
    jmp     *%rax
    .seh_endproc
]=])

function(tovren_run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output
                    ERROR_VARIABLE output WORKING_DIRECTORY "${TOVREN_DELAY_DIR}")
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${ARGN} failed:\n${output}")
    endif()
endfunction()

function(tovren_delay_import_library dll out_var)
    set(TOVREN_DELAY_DIR "${CMAKE_BINARY_DIR}/delay-imports")
    file(MAKE_DIRECTORY "${TOVREN_DELAY_DIR}")
    set(import_library "${CMAKE_FIND_ROOT_PATH}/lib/lib${dll}.a")
    # A relative name: dlltool derives its symbol names from it, so they do not depend on where
    # the build is.
    set(library "lib${dll}_delay.a")
    set(id "lib${dll}_delay_a")

    execute_process(COMMAND "${CMAKE_NM}" "${import_library}" OUTPUT_VARIABLE symbols
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "cannot read ${import_library}")
    endif()
    string(REGEX MATCHALL " I __imp_[A-Za-z0-9_@?$]+" imports "${symbols}")
    set(def "LIBRARY ${dll}.dll\nEXPORTS\n")
    foreach(import IN LISTS imports)
        string(REPLACE " I __imp_" "" name "${import}")
        string(APPEND def "    ${name}\n")
    endforeach()
    file(WRITE "${TOVREN_DELAY_DIR}/${dll}.def" "${def}")
    file(REMOVE "${TOVREN_DELAY_DIR}/${library}")
    tovren_run("${CMAKE_DLLTOOL}" --input-def "${dll}.def" --dllname "${dll}.dll"
               --output-delaylib "${library}")

    # Keep dlltool's descriptor, but under another name for its thunk, and add ours.
    tovren_run("${CMAKE_AR}" x "${library}" "${id}_h.o")
    tovren_run("${CMAKE_OBJCOPY}" --redefine-sym "__tailMerge_${id}=__tailMerge_${id}_unsaved"
               "${id}_h.o")
    string(REPLACE "@ID@" "${id}" thunk "${TOVREN_DELAY_THUNK_TEMPLATE}")
    file(WRITE "${TOVREN_DELAY_DIR}/${id}_thunk.s" "${thunk}")
    tovren_run("${CMAKE_CXX_COMPILER}" -c "${id}_thunk.s" -o "${id}_thunk.o")
    tovren_run("${CMAKE_AR}" r "${library}" "${id}_h.o" "${id}_thunk.o")

    set(${out_var} "${TOVREN_DELAY_DIR}/${library}" PARENT_SCOPE)
endfunction()
