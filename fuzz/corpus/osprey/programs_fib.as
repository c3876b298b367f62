opt subtitle "Vormak Software Wyvern Code Generator build 3884"

	processor	16F877A
clrc	macro
	bcf	status,0
	endm
clrz	macro
	bcf	status,2
	endm
setc	macro
	bsf	status,0
	endm
setz	macro
	bsf	status,2
	endm
skipc	macro
	btfss	status,0
	endm
skipz	macro
	btfss	status,2
	endm
skipnc	macro
	btfsc	status,0
	endm
skipnz	macro
	btfsc	status,2
	endm
indf	equ	0
indf0	equ	0
pc	equ	2
pcl	equ	2
status	equ	3
fsr	equ	4
fsr0	equ	4
c	equ	0
z	equ	2
pclath	equ	10
;Data sizes: Strings 0, constant 0, data 0, bss 10, persistent 0 stack 26
_main$1	equ	??_main+0
	global	_main$1
_fib_n	equ	??_fib+0
	global	_fib_n
_fib_a	equ	??_fib+1
	global	_fib_a
_fib_b	equ	??_fib+5
	global	_fib_b
_fib_t	equ	??_fib+9
	global	_fib_t

; *************** function _main ***************
; Defined at:
;		line 19 in file "programs_fib.c"
; Parameters:
;		None
; Auto variables:
;		main$1      	       	type: unsigned long
; Return value:
;		type: void
;		size: 0
; Registers used:
;		[allreg]
; Data sizes:
;		Autos:    4
;		Params:   0
;		Temp:     4
;		Total:    8
; This function calls:
;		_fib
; This function is called by:
;		Startup code after reset
; This function uses a non-reentrant model
; 
	global	_main
	global	??_main
	psect	text1,local,class=CODE,delta=2
_main:
; Regs used in _main: [allreg]
	movlw	018h
	fcall	_fib
	bcf	status, 5	;RP0=0, select bank0
	bcf	status, 6	;RP1=0, select bank0
	movf	?_fib,w
	movwf	??_main+4
	movf	?_fib+1,w
	movwf	??_main+4+1
	movf	?_fib+2,w
	movwf	??_main+4+2
	movf	?_fib+3,w
	movwf	??_main+4+3
	movf	??_main+4,w
	movwf	??_main+0
	movf	??_main+4+1,w
	movwf	??_main+0+1
	movf	??_main+4+2,w
	movwf	??_main+0+2
	movf	??_main+4+3,w
	movwf	??_main+0+3
	movf	??_main+0,w
	movwf	_f16
	movf	??_main+0+1,w
	movwf	_f16+1
	movlw	022h
	fcall	_fib
	bcf	status, 5	;RP0=0, select bank0
	bcf	status, 6	;RP1=0, select bank0
	movf	?_fib,w
	movwf	??_main+4
	movf	?_fib+1,w
	movwf	??_main+4+1
	movf	?_fib+2,w
	movwf	??_main+4+2
	movf	?_fib+3,w
	movwf	??_main+4+3
	movf	??_main+4,w
	movwf	??_main+0
	movf	??_main+4+1,w
	movwf	??_main+0+1
	movf	??_main+4+2,w
	movwf	??_main+0+2
	movf	??_main+4+3,w
	movwf	??_main+0+3
	movf	??_main+0,w
	movwf	_f24
	movf	??_main+0+1,w
	movwf	_f24+1
	movf	??_main+0+2,w
	movwf	_f24+2
	movlw	02Fh
	fcall	_fib
	bcf	status, 5	;RP0=0, select bank0
	bcf	status, 6	;RP1=0, select bank0
	movf	?_fib,w
	movwf	??_main+4
	movf	?_fib+1,w
	movwf	??_main+4+1
	movf	?_fib+2,w
	movwf	??_main+4+2
	movf	?_fib+3,w
	movwf	??_main+4+3
	movf	??_main+4,w
	movwf	_f32
	movf	??_main+4+1,w
	movwf	_f32+1
	movf	??_main+4+2,w
	movwf	_f32+2
	movf	??_main+4+3,w
	movwf	_f32+3
	movlw	01h
	movwf	_test_done
l6:
l8:
	goto	l6
l7:
l5:
	clrf	status
	global	start
	ljmp	start
; =============== function _main ends ===============

GLOBAL __end_of_main
	__end_of_main:
	FNSIZE	_main,8,0
	signat	_main,88

; *************** function _fib ***************
; Defined at:
;		line 8 in file "programs_fib.c"
; Parameters:
;		n           	reg:    W	type: unsigned char
; Auto variables:
;		a           	       	type: unsigned long
;		b           	       	type: unsigned long
;		t           	       	type: unsigned long
; Return value:
;		type: unsigned long
;		size: 4
; Registers used:
;		[wreg+status,2+status,0]
; Data sizes:
;		Autos:   13
;		Params:   4
;		Temp:     1
;		Total:   18
; This function calls:
;		Nothing
; This function is called by:
;		_main
; This function uses a non-reentrant model
; 
	global	_fib
	global	??_fib
	global	?_fib
	psect	text2,local,class=CODE,delta=2
_fib:
; Regs used in _fib: [wreg+status,2+status,0]
	bcf	status, 5	;RP0=0, select bank0
	bcf	status, 6	;RP1=0, select bank0
	movwf	??_fib+0
	clrf	??_fib+1
	clrf	??_fib+1+1
	clrf	??_fib+1+2
	clrf	??_fib+1+3
	movlw	1
	movwf	??_fib+5
	clrf	??_fib+5+1
	clrf	??_fib+5+2
	clrf	??_fib+5+3
	goto	l2
l3:
	bcf	status, 5	;RP0=0, select bank0
	bcf	status, 6	;RP1=0, select bank0
	movf	??_fib+1,w
	movwf	??_fib+9
	movf	??_fib+1+1,w
	movwf	??_fib+9+1
	movf	??_fib+1+2,w
	movwf	??_fib+9+2
	movf	??_fib+1+3,w
	movwf	??_fib+9+3
	movf	??_fib+5,w
	addwf	??_fib+9,f
	movf	??_fib+5+1,w
	btfsc	status,0
	addlw	1
	btfss	status,0
	addwf	??_fib+9+1,f
	movf	??_fib+5+2,w
	btfsc	status,0
	addlw	1
	btfss	status,0
	addwf	??_fib+9+2,f
	movf	??_fib+5+3,w
	btfsc	status,0
	addlw	1
	btfss	status,0
	addwf	??_fib+9+3,f
	movf	??_fib+5,w
	movwf	??_fib+1
	movf	??_fib+5+1,w
	movwf	??_fib+1+1
	movf	??_fib+5+2,w
	movwf	??_fib+1+2
	movf	??_fib+5+3,w
	movwf	??_fib+1+3
	movf	??_fib+9,w
	movwf	??_fib+5
	movf	??_fib+9+1,w
	movwf	??_fib+5+1
	movf	??_fib+9+2,w
	movwf	??_fib+5+2
	movf	??_fib+9+3,w
	movwf	??_fib+5+3
l2:
	bcf	status, 5	;RP0=0, select bank0
	bcf	status, 6	;RP1=0, select bank0
	movf	??_fib+0,w
	decf	??_fib+0,f
	movwf	??_fib+13
	movf	??_fib+13,f
	btfss	status,2
	goto	l3
l4:
	bcf	status, 5	;RP0=0, select bank0
	bcf	status, 6	;RP1=0, select bank0
	movf	??_fib+1,w
	movwf	?_fib
	movf	??_fib+1+1,w
	movwf	?_fib+1
	movf	??_fib+1+2,w
	movwf	?_fib+2
	movf	??_fib+1+3,w
	movwf	?_fib+3
l1:
	return
; =============== function _fib ends ===============

GLOBAL __end_of_fib
	__end_of_fib:
	FNSIZE	_fib,14,4
	signat	_fib,4172
	FNCALL	_main,_fib
	FNROOT	_main
	global	_test_done
	psect	common,class=COMMON,space=1
_test_done:
       ds      1
	global	_f16
_f16:
       ds      2
	global	_f24
_f24:
       ds      3
	global	_f32
_f32:
       ds      4
	PSECT	fnauto0,class=BANK0,space=1
	FNCONF	fnauto0,??,?
apbank macro
	bcf	status,5
	bcf	status,6
	endm
	end
