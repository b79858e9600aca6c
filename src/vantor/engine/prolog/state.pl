% --- Engine state between evaluations.
%
% Every evaluation starts from the state the engine had before the first:
% what one leaves behind (predicates it asserted, flags, operators,
% character conversions, global variables) would otherwise change how the
% next background or theory is read or proved.

% What module user holds, the flags, operators and character conversions
% before any evaluation.
record_baseline :-
    forall(( current_predicate(user:Name/Arity),
             functor(Head, Name, Arity),
             \+ predicate_property(user:Head, imported_from(_)) ),
           assertz(baseline(Name/Arity))),
    forall(current_prolog_flag(Flag, Value), assertz(baseline_flag(Flag, Value))),
    findall(op(P, T, N), current_op(P, T, user:N), Ops),
    assertz(baseline_ops(Ops)),
    findall(C-D, current_char_conversion(C, D), Conversions),
    assertz(baseline_conversions(Conversions)).

restore_state :-
    sweep_user,
    restore_flags,
    restore_operators,
    restore_conversions,
    forget_global_variables.

sweep_user :-
    forall(( current_predicate(user:Name/Arity),
             \+ baseline(Name/Arity),
             functor(Head, Name, Arity),
             \+ predicate_property(user:Head, imported_from(_)),
             \+ ( loaded(background, File), defined_in(File, Name/Arity) ) ),
           catch(abolish(user:Name/Arity), _, true)).

% Flags are set back in module user, where sources are loaded (some flags
% are kept per module). Read-only flags refuse and stay as they are.
restore_flags :-
    forall(( baseline_flag(Flag, Value),
             user:current_prolog_flag(Flag, Now),
             Now \== Value ),
           catch(user:set_prolog_flag(Flag, Value), _, true)).

% Operators added in module user or globally are removed, and those of the
% baseline that module user no longer sees are declared there again.
restore_operators :-
    baseline_ops(Ops),
    findall(op(P, T, N), current_op(P, T, user:N), Now),
    forall(( member(op(P, T, N), Now), \+ memberchk(op(P, T, N), Ops) ),
           remove_operator(T, N)),
    forall(( member(op(P, T, N), Ops), \+ current_op(P, T, user:N) ),
           catch(op(P, T, user:N), _, true)).

remove_operator(Type, Name) :-
    catch(op(0, Type, user:Name), _, true),
    (   current_op(_, Type, user:Name),
        \+ ( baseline_ops(Ops), memberchk(op(_, Type, Name), Ops) )
    ->  catch(op(0, Type, system:Name), _, true)
    ;   true
    ).

restore_conversions :-
    baseline_conversions(Before),
    forall(( current_char_conversion(C, D), \+ memberchk(C-D, Before) ),
           catch(char_conversion(C, C), _, true)),
    forall(member(C-D, Before), catch(char_conversion(C, D), _, true)).

% Global variables belong to the calling thread: ours (named vantor_...)
% and the system's ('$'...) stay, the rest goes.
forget_global_variables :-
    forall(( nb_current(Key, _), atom(Key),
             \+ sub_atom(Key, 0, _, _, '$'),
             \+ sub_atom(Key, 0, _, _, vantor_) ),
           catch(nb_delete(Key), _, true)).
