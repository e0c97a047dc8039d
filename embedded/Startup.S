/* Reset entry for the Cortex-M4 harness programs: the vector table, then
 * the FPU switched on, .data copied from flash, .bss cleared, and the C++
 * side (TargetStart in Semihosting.cpp) called. Written in assembly so that
 * no compiler-generated floating-point instruction can run before the FPU
 * is enabled: with -mfloat-abi=hard any C function may use the FP registers.
 */
    .syntax unified
    .cpu cortex-m4
    .fpu fpv4-sp-d16
    .thumb

    .section .vectors, "a", %progbits
    .align 2
    .globl __vectors
__vectors:
    .word __stack_top          /* initial stack pointer */
    .word Reset_Handler
    .word Fault_Handler        /* NMI */
    .word Fault_Handler        /* HardFault */
    .word Fault_Handler        /* MemManage */
    .word Fault_Handler        /* BusFault */
    .word Fault_Handler        /* UsageFault */
    .word 0, 0, 0, 0
    .word Fault_Handler        /* SVCall */
    .word Fault_Handler        /* DebugMonitor */
    .word 0
    .word Fault_Handler        /* PendSV */
    .word Fault_Handler        /* SysTick */

    .text
    .thumb_func
    .globl Reset_Handler
    .type Reset_Handler, %function
Reset_Handler:
    /* CPACR: full access to coprocessors 10 and 11, the FPU. */
    ldr r0, =0xE000ED88
    ldr r1, [r0]
    orr r1, r1, #(0xF << 20)
    str r1, [r0]
    dsb
    isb

    ldr r0, =__data_start
    ldr r1, =__data_end
    ldr r2, =__data_load
1:  cmp r0, r1
    bhs 2f
    ldr r3, [r2], #4
    str r3, [r0], #4
    b 1b

2:  ldr r0, =__bss_start
    ldr r1, =__bss_end
    movs r2, #0
3:  cmp r0, r1
    bhs 4f
    str r2, [r0], #4
    b 3b

4:  bl TargetStart           /* console, constructors; returns argc */
    ldr r1, =TargetArguments
    bl main
    bl exit
    b .
    .size Reset_Handler, . - Reset_Handler

    .thumb_func
    .globl Fault_Handler
    .type Fault_Handler, %function
Fault_Handler:
    mrs r0, ipsr
    bl TargetFault
    b .
    .size Fault_Handler, . - Fault_Handler
