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
;Data sizes: Strings 0, constant 0, data 0, bss 3, persistent 0 stack 11
_main_i	equ	??_main+0
	global	_main_i
_crc_byte_c	equ	?_crc_byte+0
	global	_crc_byte_c
_crc_byte_b	equ	?_crc_byte+2
	global	_crc_byte_b
_crc_byte_k	equ	??_crc_byte+0
	global	_crc_byte_k

; *************** function _main ***************
; Defined at:
;		line 19 in file "programs_crc16.c"
; Parameters:
;		None
; Auto variables:
;		i           	       	type: unsigned char
; Return value:
;		type: void
;		size: 0
; Registers used:
;		[allreg]
; Data sizes:
;		Autos:    1
;		Params:   0
;		Temp:     2
;		Total:    3
; This function calls:
;		_crc_byte
; This function is called by:
;		Startup code after reset
; This function uses a non-reentrant model
; 
	global	_main
	global	??_main
	psect	text1,local,class=CODE,delta=2
_main:
; Regs used in _main: [allreg]
	movlw	255
	movwf	_crc
	movlw	255
	movwf	_crc+1
	clrf	??_main+0
	movlw	040h
	subwf	??_main+0,w
	btfss	status,0
	goto	l9
	goto	l10
l9:
	movf	_crc,w
	movwf	?_crc_byte+0
	movf	_crc+1,w
	movwf	?_crc_byte+0+1
	movf	??_main+0,w
	movwf	?_crc_byte+2
	fcall	_crc_byte
	movf	?_crc_byte,w
	movwf	??_main+1
	movf	?_crc_byte+1,w
	movwf	??_main+1+1
	movf	??_main+1,w
	movwf	_crc
	movf	??_main+1+1,w
	movwf	_crc+1
	incf	??_main+0,f
	movlw	040h
	subwf	??_main+0,w
	btfss	status,0
	goto	l9
l10:
	movlw	01h
	movwf	_test_done
l13:
l15:
	goto	l13
l14:
l8:
	clrf	status
	global	start
	ljmp	start
; =============== function _main ends ===============

GLOBAL __end_of_main
	__end_of_main:
	FNSIZE	_main,3,0
	signat	_main,88

; *************** function _crc_byte ***************
; Defined at:
;		line 6 in file "programs_crc16.c"
; Parameters:
;		c           	offs:   0	type: unsigned int 
;		b           	offs:   2	type: unsigned char
; Auto variables:
;		k           	       	type: unsigned char
; Return value:
;		type: unsigned int 
;		size: 2
; Registers used:
;		[wreg+status,2+status,0]
; Data sizes:
;		Autos:    1
;		Params:   3
;		Temp:     4
;		Total:    8
; This function calls:
;		Nothing
; This function is called by:
;		_main
; This function uses a non-reentrant model
; 
	global	_crc_byte
	global	??_crc_byte
	global	?_crc_byte
	psect	text2,local,class=CODE,delta=2
_crc_byte:
; Regs used in _crc_byte: [wreg+status,2+status,0]
	movf	?_crc_byte+2,w
	movwf	??_crc_byte+1
	movlw	0
	movwf	??_crc_byte+1+1
	movf	??_crc_byte+1,w
	movwf	??_crc_byte+3
	movf	??_crc_byte+1+1,w
	movwf	??_crc_byte+3+1
	movf	??_crc_byte+3,w
	movwf	??_crc_byte+3+1
	clrf	??_crc_byte+3
	movf	??_crc_byte+3,w
	xorwf	?_crc_byte+0,f
	movf	??_crc_byte+3+1,w
	xorwf	?_crc_byte+0+1,f
	clrf	??_crc_byte+0
	movlw	08h
	subwf	??_crc_byte+0,w
	btfss	status,0
	goto	l2
	goto	l3
l2:
	clrf	??_crc_byte+1
	movf	?_crc_byte+0+1,w
	andlw	128
	movwf	??_crc_byte+1+1
	movf	??_crc_byte+1,w
	iorwf	??_crc_byte+1+1,w
	btfsc	status,2
	goto	l6
	bcf	status,0
	rlf	?_crc_byte+0,f
	rlf	?_crc_byte+0+1,f
	movlw	33
	xorwf	?_crc_byte+0,f
	movlw	16
	xorwf	?_crc_byte+0+1,f
	goto	l7
l6:
	bcf	status,0
	rlf	?_crc_byte+0,f
	rlf	?_crc_byte+0+1,f
l7:
	incf	??_crc_byte+0,f
	movlw	08h
	subwf	??_crc_byte+0,w
	btfss	status,0
	goto	l2
l3:
	movf	?_crc_byte+0,w
	movwf	?_crc_byte
	movf	?_crc_byte+0+1,w
	movwf	?_crc_byte+1
l1:
	return
; =============== function _crc_byte ends ===============

GLOBAL __end_of_crc_byte
	__end_of_crc_byte:
	FNSIZE	_crc_byte,5,3
	signat	_crc_byte,8266
	FNCALL	_main,_crc_byte
	FNROOT	_main
	global	_test_done
	psect	common,class=COMMON,space=1
_test_done:
       ds      1
	global	_crc
_crc:
       ds      2
	PSECT	fnautoc,class=COMMON,space=1
	FNCONF	fnautoc,??,?
apbank macro
	; no bank selection necessary for common memory
	endm
	end
