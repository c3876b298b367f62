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
;Data sizes: Strings 0, constant 16, data 0, bss 55, persistent 0 stack 30
_main_i	equ	??_main+0
	global	_main_i
_main$1	equ	??_main+1
	global	_main$1
_crc8_p	equ	??_crc8+0
	global	_crc8_p
_crc8_n	equ	?_crc8+0
	global	_crc8_n
_crc8_c	equ	??_crc8+1
	global	_crc8_c
_crc8$1	equ	??_crc8+2
	global	_crc8$1
_copy_to	equ	??_copy+0
	global	_copy_to
_copy_from	equ	?_copy+0
	global	_copy_from
_copy$1	equ	??_copy+1
	global	_copy$1
___bmul_multiplier	equ	??___bmul+0
	global	___bmul_multiplier
___bmul_multiplicand	equ	?___bmul+0
	global	___bmul_multiplicand
___bmul_product	equ	??___bmul+1
	global	___bmul_product

; *************** function _main ***************
; Defined at:
;		line 36 in file "programs_tables.c"
; Parameters:
;		None
; Auto variables:
;		i           	       	type: unsigned char
;		main$1      	       	type: unsigned char
; Return value:
;		type: void
;		size: 0
; Registers used:
;		[allreg]
; Data sizes:
;		Autos:    2
;		Params:   0
;		Temp:     0
;		Total:    2
; This function calls:
;		___bmul
;		_copy
;		_crc8
; This function is called by:
;		Startup code after reset
; This function uses a non-reentrant model
; 
	global	_main
	global	??_main
	psect	text1,local,class=CODE,delta=2
_main:
; Regs used in _main: [allreg]
	movlw	03h
	bcf	status, 5	;RP0=0, select bank0
	bcf	status, 6	;RP1=0, select bank0
	movwf	_in
	movlw	018h
	movwf	_in+1
	bsf	status, 5	;RP0=1, select bank3
	bsf	status, 6	;RP1=1, select bank3
	clrf	??_main+0
	movlw	018h
	subwf	??_main+0,w
	btfss	status,0
	goto	l8
	goto	l9
l8:
	movlw	07h
	bsf	status, 5	;RP0=1, select bank3
	bsf	status, 6	;RP1=1, select bank3
	movwf	?___bmul+0
	movf	??_main+0,w
	fcall	___bmul
	bsf	status, 5	;RP0=1, select bank3
	bsf	status, 6	;RP1=1, select bank3
	movwf	??_main+1
	movlw	low(_in)
	addwf	??_main+0,w
	addlw	02h
	movwf	fsr
	bcf	status, 7	;IRP=0, banks 0-1 through FSR
	movf	??_main+1,w
	movwf	indf
	incf	??_main+0,f
	movlw	018h
	subwf	??_main+0,w
	btfss	status,0
	goto	l8
l9:
	movlw	low(_in)
	bsf	status, 5	;RP0=1, select bank3
	bsf	status, 6	;RP1=1, select bank3
	movwf	?_copy+0
	movlw	low(_out)
	fcall	_copy
	bcf	status, 5	;RP0=0, select bank0
	bcf	status, 6	;RP1=0, select bank0
	movf	_out+1,w
	bsf	status, 5	;RP0=1, select bank3
	bsf	status, 6	;RP1=1, select bank3
	movwf	?_crc8+0
	movlw	low(_out)
	addlw	02h
	fcall	_crc8
	bcf	status, 5	;RP0=0, select bank0
	bcf	status, 6	;RP1=0, select bank0
	movwf	_crc
	movf	_out,w
	addwf	_out+25,w
	movwf	_total
	movlw	01h
	movwf	_test_done
l12:
l14:
	goto	l12
l13:
l7:
	clrf	status
	global	start
	ljmp	start
; =============== function _main ends ===============

GLOBAL __end_of_main
	__end_of_main:
	FNSIZE	_main,2,0
	signat	_main,88

; *************** function _crc8 ***************
; Defined at:
;		line 20 in file "programs_tables.c"
; Parameters:
;		p           	reg:    W	type: PTR const unsigned char
;		n           	offs:   0	type: unsigned char
; Auto variables:
;		c           	       	type: unsigned char
;		crc8$1      	       	type: unsigned char
; Return value:
;		type: unsigned char
;		size: 1
; Registers used:
;		[wreg+fsr+status,2+status,0+pclath]
; Data sizes:
;		Autos:    3
;		Params:   1
;		Temp:     3
;		Total:    7
; This function calls:
;		Nothing
; This function is called by:
;		_main
; This function uses a non-reentrant model
; 
	global	_crc8
	global	??_crc8
	global	?_crc8
	psect	text2,local,class=CODE,delta=2
_crc8:
; Regs used in _crc8: [wreg+fsr+status,2+status,0+pclath]
	bsf	status, 5	;RP0=1, select bank3
	bsf	status, 6	;RP1=1, select bank3
	movwf	??_crc8+0
	clrf	??_crc8+1
	goto	l3
l4:
	bsf	status, 5	;RP0=1, select bank3
	bsf	status, 6	;RP1=1, select bank3
	movf	??_crc8+0,w
	incf	??_crc8+0,f
	movwf	fsr
	bcf	status, 7	;IRP=0, banks 0-1 through FSR
	movf	indf,w
	movwf	??_crc8+2
	movf	??_crc8+2,w
	xorwf	??_crc8+1,f
	movf	??_crc8+1,w
	movwf	??_crc8+3
	swapf	??_crc8+3,f
	movlw	15
	andwf	??_crc8+3,f
	movf	??_crc8+3,w
	movwf	??_crc8+4
	movlw	low(_crc8_table)
	addwf	??_crc8+4,w
	movwf	??_crc8+5
	movlw	high(stringdir)
	movwf	pclath
	movf	??_crc8+5,w
	call	stringdir
	pagesel	$
	movwf	??_crc8+2
	movf	??_crc8+1,w
	movwf	??_crc8+3
	swapf	??_crc8+3,f
	movlw	240
	andwf	??_crc8+3,f
	movf	??_crc8+3,w
	movwf	??_crc8+4
	movf	??_crc8+2,w
	xorwf	??_crc8+4,w
	movwf	??_crc8+1
	movf	??_crc8+1,w
	movwf	??_crc8+3
	swapf	??_crc8+3,f
	movlw	15
	andwf	??_crc8+3,f
	movf	??_crc8+3,w
	movwf	??_crc8+4
	movlw	low(_crc8_table)
	addwf	??_crc8+4,w
	movwf	??_crc8+5
	movlw	high(stringdir)
	movwf	pclath
	movf	??_crc8+5,w
	call	stringdir
	pagesel	$
	movwf	??_crc8+2
	movf	??_crc8+1,w
	movwf	??_crc8+3
	swapf	??_crc8+3,f
	movlw	240
	andwf	??_crc8+3,f
	movf	??_crc8+3,w
	movwf	??_crc8+4
	movf	??_crc8+2,w
	xorwf	??_crc8+4,w
	movwf	??_crc8+1
l3:
	bsf	status, 5	;RP0=1, select bank3
	bsf	status, 6	;RP1=1, select bank3
	movf	?_crc8+0,w
	decf	?_crc8+0,f
	movwf	??_crc8+3
	movf	??_crc8+3,f
	btfss	status,2
	goto	l4
l5:
	bsf	status, 5	;RP0=1, select bank3
	bsf	status, 6	;RP1=1, select bank3
	movf	??_crc8+1,w
l2:
	return
; =============== function _crc8 ends ===============

GLOBAL __end_of_crc8
	__end_of_crc8:
	FNSIZE	_crc8,6,1
	signat	_crc8,8265

; *************** function _copy ***************
; Defined at:
;		line 31 in file "programs_tables.c"
; Parameters:
;		to          	reg:    W	type: PTR struct S21message
;		from        	offs:   0	type: PTR const struct S21message
; Auto variables:
;		copy$1      	       	type: struct S21message
; Return value:
;		type: void
;		size: 0
; Registers used:
;		[wreg+fsr+status,2+status,0]
; Data sizes:
;		Autos:   27
;		Params:   1
;		Temp:     0
;		Total:   28
; This function calls:
;		Nothing
; This function is called by:
;		_main
; This function uses a non-reentrant model
; 
	global	_copy
	global	??_copy
	global	?_copy
	psect	text3,local,class=CODE,delta=2
_copy:
; Regs used in _copy: [wreg+fsr+status,2+status,0]
	bsf	status, 5	;RP0=1, select bank3
	bsf	status, 6	;RP1=1, select bank3
	movwf	??_copy+0
	movf	?_copy+0,w
	movwf	fsr
	bcf	status, 7	;IRP=0, banks 0-1 through FSR
	movf	indf,w
	movwf	??_copy+1
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+1
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+2
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+3
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+4
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+5
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+6
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+7
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+8
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+9
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+10
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+11
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+12
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+13
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+14
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+15
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+16
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+17
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+18
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+19
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+20
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+21
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+22
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+23
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+24
	incf	fsr,f
	movf	indf,w
	movwf	??_copy+1+25
	movf	??_copy+0,w
	movwf	fsr
	movf	??_copy+1,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+1,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+2,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+3,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+4,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+5,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+6,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+7,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+8,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+9,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+10,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+11,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+12,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+13,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+14,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+15,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+16,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+17,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+18,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+19,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+20,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+21,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+22,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+23,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+24,w
	movwf	indf
	incf	fsr,f
	movf	??_copy+1+25,w
	movwf	indf
l6:
	return
; =============== function _copy ends ===============

GLOBAL __end_of_copy
	__end_of_copy:
	FNSIZE	_copy,27,1
	signat	_copy,8280

; *************** function ___bmul ***************
; Defined at:
;		line 4 in file "bmul.c"
; Parameters:
;		multiplier  	reg:    W	type: unsigned char
;		multiplicand	offs:   0	type: unsigned char
; Auto variables:
;		product     	       	type: unsigned char
; Return value:
;		type: unsigned char
;		size: 1
; Registers used:
;		[wreg+status,2+status,0]
; Data sizes:
;		Autos:    2
;		Params:   1
;		Temp:     1
;		Total:    4
; This function calls:
;		Nothing
; This function is called by:
;		_main
; This function uses a non-reentrant model
; 
	global	___bmul
	global	??___bmul
	global	?___bmul
	psect	text4,local,class=CODE,delta=2
___bmul:
; Regs used in ___bmul: [wreg+status,2+status,0]
	bsf	status, 5	;RP0=1, select bank3
	bsf	status, 6	;RP1=1, select bank3
	movwf	??___bmul+0
	clrf	??___bmul+1
	goto	l16
l17:
	bsf	status, 5	;RP0=1, select bank3
	bsf	status, 6	;RP1=1, select bank3
	movf	??___bmul+0,w
	andlw	01h
	movwf	??___bmul+2
	movf	??___bmul+2,f
	btfsc	status,2
	goto	l19
	movf	?___bmul+0,w
	addwf	??___bmul+1,f
l19:
	bcf	status,0
	bsf	status, 5	;RP0=1, select bank3
	bsf	status, 6	;RP1=1, select bank3
	rlf	?___bmul+0,f
	bcf	status,0
	rrf	??___bmul+0,f
l16:
	bsf	status, 5	;RP0=1, select bank3
	bsf	status, 6	;RP1=1, select bank3
	movf	??___bmul+0,f
	btfss	status,2
	goto	l17
l18:
	bsf	status, 5	;RP0=1, select bank3
	bsf	status, 6	;RP1=1, select bank3
	movf	??___bmul+1,w
l15:
	return
; =============== function ___bmul ends ===============

GLOBAL __end_of___bmul
	__end_of___bmul:
	FNSIZE	___bmul,3,1
	signat	___bmul,8777
	FNCALL	_main,___bmul
	FNCALL	_main,_copy
	FNCALL	_main,_crc8
	FNROOT	_main
	global	_test_done
	psect	rbss_0,class=BANK0,space=1
_test_done:
       ds      1
	global	_in
_in:
       ds      26
	global	_out
_out:
       ds      26
	global	_crc
_crc:
       ds      1
	global	_total
_total:
       ds      1
	psect	strings,class=CODE,delta=2,reloc=256
	global	stringdir
stringdir:
	movwf	pcl
	global	_crc8_table
_crc8_table:
	retlw	0
	retlw	7
	retlw	14
	retlw	9
	retlw	28
	retlw	27
	retlw	18
	retlw	21
	retlw	56
	retlw	63
	retlw	54
	retlw	49
	retlw	36
	retlw	35
	retlw	42
	retlw	45
	PSECT	fnauto3,class=BANK3,space=1
	FNCONF	fnauto3,??,?
apbank macro
	bsf	status,5
	bsf	status,6
	endm
	end
