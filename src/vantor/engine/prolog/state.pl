% --- Engine state between evaluations.

% What module user holds before any evaluation; everything else an
% evaluation leaves there (a background's or a goal's assertions, a
% theory's helpers) is removed when it ends.
record_baseline :-
    forall(( current_predicate(user:Name/Arity),
             functor(Head, Name, Arity),
             \+ predicate_property(user:Head, imported_from(_)) ),
           assertz(baseline(Name/Arity))).

sweep_user :-
    forall(( current_predicate(user:Name/Arity),
             \+ baseline(Name/Arity),
             functor(Head, Name, Arity),
             \+ predicate_property(user:Head, imported_from(_)),
             \+ ( loaded(background, File), defined_in(File, Name/Arity) ) ),
           catch(abolish(user:Name/Arity), _, true)).

